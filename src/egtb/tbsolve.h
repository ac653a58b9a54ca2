// tbsolve: the retrograde analysis of one table, on as many threads as asked.
//
// The values of both sides of a table are worked out in place in two byte arrays that
// end up as the table's files. Positions are decided ply by ply from the mates: a pass
// takes the positions decided at the previous ply, finds the positions one move before
// them (moves taken back), marks those before a loss as wins, and checks those before a
// win with their own moves, which decides them as losses once every move reaches a win.
// Captures and promotions are valued from the tables they lead into. Besides the two
// arrays the work needs a bit per position of the larger side and a little per 4,096
// positions; the result is the same on any number of threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "egtb/tbindex.h"

namespace varkon {

class TbProgress;

// The tables a table's captures and promotions lead into: bytes per table and side.
struct TbSubTables {
    const std::int8_t* side[TB_TABLES + 1][2] = {};
};

struct TbSolveOptions {
    int threads = 1;
    const std::atomic<bool>* stop = nullptr;   // abandons the work when set
    TbProgress* progress = nullptr;
};

// Bytes of memory the analysis of table t takes (the result included).
std::uint64_t tb_solve_memory(int t);

// Works out both sides of table t into out[0] and out[1] (resized to the position
// counts). Returns false when stopped, or when a capture or promotion reaches a table
// that `subs` lacks (said on stderr).
bool tb_solve(int t, const TbSubTables& subs, const TbSolveOptions& options, std::vector<std::int8_t> out[2]);

// Checks stored bytes of table t against the values of every position's successors:
// every legal position's byte must follow from them, every other index must hold 127.
// Returns the number of wrong entries (the first few described on `log`), or -1 when a
// successor's table is missing.
long long tb_check(int t, const std::int8_t* const own[2], const TbSubTables& subs, int threads, std::FILE* log);

}  // namespace varkon
