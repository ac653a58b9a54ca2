#include "egtb/tbfiles.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstring>

#include "egtb/tbindex.h"

namespace varkon {

namespace {

bool file_size(const std::string& name, std::uint64_t* size) {
    struct stat st;
    if (stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    *size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

// The checksum and size of a whole file; false when it cannot be read.
bool file_checksum(const std::string& name, std::uint64_t* size, std::uint64_t* sum) {
    std::FILE* f = std::fopen(name.c_str(), "rb");
    if (f == nullptr) return false;
    std::vector<std::int8_t> buffer(1 << 20);
    TbChecksum c;
    std::uint64_t total = 0;
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), f)) > 0) {
        c.add(buffer.data(), n);
        total += n;
    }
    const bool ok = !std::ferror(f);
    std::fclose(f);
    *size = total;
    *sum = c.value();
    return ok;
}

inline std::uint64_t mix(std::uint64_t h, std::uint64_t w) {
    h = (h ^ w) * 0x9E3779B97F4A7C15ULL;
    return h ^ (h >> 31);
}

}  // namespace

std::string tb_file_name(const std::string& dir, int t, int side) {
    return dir + "/" + tb_name(t) + (side == 0 ? ".nbw" : ".nbb");
}

std::string tb_sidecar_name(const std::string& dir, int t) { return dir + "/" + tb_name(t) + ".sum"; }

bool tb_files_present(const std::string& dir, int t) {
    for (int side = 0; side < 2; ++side) {
        std::uint64_t size;
        if (!file_size(tb_file_name(dir, t, side), &size) || size != tb_count(t, side)) return false;
    }
    return true;
}

void TbChecksum::add(const std::int8_t* data, std::size_t n) {
    length_ += n;
    std::size_t i = 0;
    // Finish a word begun by the previous piece, then whole words.
    for (; i < n && tail_n_ != 0; ++i) {
        tail_ |= static_cast<std::uint64_t>(static_cast<std::uint8_t>(data[i])) << (8 * tail_n_);
        if (++tail_n_ == 8) {
            h_ = mix(h_, tail_);
            tail_ = 0;
            tail_n_ = 0;
        }
    }
    for (; i + 8 <= n; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, data + i, 8);
        h_ = mix(h_, w);
    }
    for (; i < n; ++i) tail_ |= static_cast<std::uint64_t>(static_cast<std::uint8_t>(data[i])) << (8 * tail_n_++);
}

std::uint64_t TbChecksum::value() const {
    std::uint64_t h = h_;
    if (tail_n_ != 0) h = mix(h, tail_);
    return mix(h, length_);
}

TbSidecar tb_check_sidecar(const std::string& dir, int t) {
    std::FILE* f = std::fopen(tb_sidecar_name(dir, t).c_str(), "r");
    if (f == nullptr) return TbSidecar::MISSING;
    std::uint64_t want_size[2], want_sum[2];
    const int fields = std::fscanf(f, "%" SCNu64 " %" SCNx64 " %" SCNu64 " %" SCNx64, &want_size[0], &want_sum[0],
                                   &want_size[1], &want_sum[1]);
    std::fclose(f);
    if (fields != 4) return TbSidecar::DIFFERS;
    for (int side = 0; side < 2; ++side) {
        std::uint64_t size, sum;
        const std::string name = tb_file_name(dir, t, side);
        if (want_size[side] != tb_count(t, side) || !file_size(name, &size) || size != want_size[side] ||
            !file_checksum(name, &size, &sum) || size != want_size[side] || sum != want_sum[side])
            return TbSidecar::DIFFERS;
    }
    return TbSidecar::MATCHES;
}

bool tb_write_sidecar(const std::string& dir, int t) {
    std::uint64_t size[2], sum[2];
    for (int side = 0; side < 2; ++side)
        if (!file_checksum(tb_file_name(dir, t, side), &size[side], &sum[side])) return false;
    char line[128];
    const int n = std::snprintf(line, sizeof line, "%" PRIu64 " %016" PRIx64 " %" PRIu64 " %016" PRIx64 "\n", size[0],
                                sum[0], size[1], sum[1]);
    return tb_write_file(tb_sidecar_name(dir, t), reinterpret_cast<const std::int8_t*>(line), static_cast<std::size_t>(n),
                         nullptr);
}

bool tb_write_file(const std::string& name, const std::int8_t* data, std::size_t n, const std::atomic<bool>* stop) {
    const std::string tmp = name + ".tmp";
    std::FILE* f = std::fopen(tmp.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = true;
    constexpr std::size_t PIECE = 1 << 22;
    for (std::size_t at = 0; ok && at < n; at += PIECE) {
        const std::size_t k = n - at < PIECE ? n - at : PIECE;
        ok = std::fwrite(data + at, 1, k, f) == k && !(stop && stop->load());
    }
    ok = (std::fclose(f) == 0) && ok && !(stop && stop->load());
    if (ok) ok = std::rename(tmp.c_str(), name.c_str()) == 0;
    if (!ok) std::remove(tmp.c_str());
    return ok;
}

TbTableStore::~TbTableStore() {
    for (auto& [key, m] : maps_)
        if (m.data != nullptr) munmap(m.data, m.size);
}

const std::int8_t* TbTableStore::get(int t, int side) {
    const auto key = std::make_pair(t, side);
    auto it = maps_.find(key);
    if (it != maps_.end()) return static_cast<const std::int8_t*>(it->second.data);
    const std::string name = tb_file_name(dir_, t, side);
    const std::size_t size = tb_count(t, side);
    std::uint64_t actual;
    if (size == 0 || !file_size(name, &actual) || actual != size) return nullptr;
    const int fd = open(name.c_str(), O_RDONLY);
    if (fd < 0) return nullptr;
    void* data = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (data == MAP_FAILED) return nullptr;
    maps_[key] = Mapping{data, size};
    return static_cast<const std::int8_t*>(data);
}

void TbTableStore::forget(int t) {
    for (int side = 0; side < 2; ++side) {
        auto it = maps_.find({t, side});
        if (it == maps_.end()) continue;
        munmap(it->second.data, it->second.size);
        maps_.erase(it);
    }
}

}  // namespace varkon
