// random_text: the fuzzer's deterministic random source and the odd texts it makes:
// junk lines, mutated FENs and mutated files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

// splitmix64: the same sequence for the same seed on every machine.
class Rng {
public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next();
    int below(int n);              // 0..n-1; 0 when n <= 1
    int range(int lo, int hi);     // lo..hi
    bool chance(int percent);
    template <class T>
    const T& pick(const std::vector<T>& v) {
        return v[static_cast<std::size_t>(below(static_cast<int>(v.size())))];
    }

private:
    std::uint64_t state_;
};

// A decimal seed as it reads; any other text hashed (so a commit id serves as a seed).
std::uint64_t seed_of(const std::string& text);
// The seed of part `n` of a run (a session, a batch of files): each part draws its own
// sequence, so it sends the same input whatever the time the parts before it took.
std::uint64_t part_seed(std::uint64_t seed, std::uint64_t n);

// Words that a command loop of either program could act on. Junk must contain none.
bool is_command_word(const std::string& word);

// A line's worth of random bytes (NULs, controls, high bytes, letters) without line ends
// and without any command word, `length` bytes long.
std::string junk_line(Rng& rng, int length);
// A word of letters and digits that is no command word.
std::string junk_word(Rng& rng);

// A FEN changed a little. Fields stay separated by single blanks and hold printable
// characters only, so that every reader splits it the same way.
std::string mutate_fen(Rng& rng, const std::string& fen);

// The FEN placement of 64 squares given a8 first, rank by rank, '.' for an empty square.
std::string placement_text(const std::string& squares);

// Bytes changed a little: flipped, dropped, repeated, cut, or `tokens` inserted.
std::string mutate_bytes(Rng& rng, std::string bytes, const std::vector<std::string>& tokens);

}  // namespace fuzz
