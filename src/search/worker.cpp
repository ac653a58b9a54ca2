#include "search/worker.h"

#include <cstring>

#include "core/clock.h"

namespace varkon {

SearchWorker::SearchWorker() {
    std::memset(history, 0, sizeof history);
    std::memset(static_cast<void*>(pv_table), 0, sizeof pv_table);
    std::memset(pv_length, 0, sizeof pv_length);
}

void SearchWorker::start_search(const Position& game, const SearchRequest& r, std::uint32_t now) {
    copy_game(pos, game);
    request = &r;
    start_cs = now;
    stats = SearchStats{};
    std::memset(static_cast<void*>(pv_table), 0, sizeof pv_table);
    std::memset(pv_length, 0, sizeof pv_length);
    seldepth = 0;
    poll = PollState{};
    poll.pondering = r.mode == SearchMode::ponder;
    poll.wait_for_stop = r.wait_for_stop;
    root_best = Move{};
    root_score = 0;
    iteration = 0;
    shown_first = Move{};
    root_tables = RootTables{};
    completed.depth = 0;
    completed.pv_length = 0;
    publish_counts();
}

void SearchWorker::clear_ordering() {
    for (PlyFrame& f : frames) f.killers[0] = f.killers[1] = HashMove{0, 0};
    std::memset(history, 0, sizeof history);
}

std::uint32_t SearchWorker::elapsed_cs() const { return now_cs() - start_cs; }

}  // namespace varkon
