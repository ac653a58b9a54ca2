// tbfiles: the generator's side of the table files.
//
// A finished table is its two files (".nbw", ".nbb", one byte per index) and a sidecar
// (".sum") holding their sizes and checksums, written last: a table whose sidecar matches
// its files is whole. Files are written under a temporary name in the same directory and
// renamed into place, so that a table file is either complete or absent. Finished tables
// are read through read-only mappings, which the system may page in and drop as it needs.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace varkon {

std::string tb_file_name(const std::string& dir, int t, int side);
std::string tb_sidecar_name(const std::string& dir, int t);

// Whether both files of table t are in dir with the sizes of their position counts.
bool tb_files_present(const std::string& dir, int t);

// What the sidecar of table t says of its files.
enum class TbSidecar {
    MATCHES,    // present, and both files have the recorded sizes and checksums
    MISSING,    // no sidecar (the files may still be sound)
    DIFFERS,    // a file is missing, of another size or content than recorded
};
TbSidecar tb_check_sidecar(const std::string& dir, int t);
// Records the sizes and checksums of both files of table t as they are now.
bool tb_write_sidecar(const std::string& dir, int t);

// A checksum of a byte string, for the sidecars: 64 bits, chained over pieces.
class TbChecksum {
public:
    void add(const std::int8_t* data, std::size_t n);
    std::uint64_t value() const;

private:
    std::uint64_t h_ = 0x243F6A8885A308D3ULL;
    std::uint64_t length_ = 0;
    std::uint64_t tail_ = 0;   // bytes not yet folded in (fewer than eight)
    int tail_n_ = 0;
};

// Writes `n` bytes to `name` through a temporary file beside it that is renamed into
// place when complete. Returns false (and leaves no temporary file) when the write fails
// or `stop` is set before the rename.
bool tb_write_file(const std::string& name, const std::int8_t* data, std::size_t n, const std::atomic<bool>* stop);

// Finished tables of a directory, mapped read-only on first use.
class TbTableStore {
public:
    explicit TbTableStore(std::string dir) : dir_(std::move(dir)) {}
    ~TbTableStore();
    TbTableStore(const TbTableStore&) = delete;
    TbTableStore& operator=(const TbTableStore&) = delete;

    const std::string& dir() const { return dir_; }
    // The bytes of side `side` of table t, or nullptr when its file is absent, of the
    // wrong size or cannot be mapped. Not thread-safe: map what workers read first.
    const std::int8_t* get(int t, int side);
    // Maps both sides of t; false when one cannot be had.
    bool load(int t) { return get(t, 0) != nullptr && get(t, 1) != nullptr; }
    void forget(int t);

private:
    struct Mapping {
        void* data = nullptr;
        std::size_t size = 0;
    };
    std::string dir_;
    std::map<std::pair<int, int>, Mapping> maps_;
};

}  // namespace varkon
