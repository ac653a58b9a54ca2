#include "egtb/probe_egtb.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "core/messages.h"
#include "core/position.h"
#include "egtb/tbindex.h"

namespace varkon {

namespace {

constexpr std::uint32_t BLOCK = 8192;
constexpr int BLOCK_LOG2 = 13;
constexpr std::size_t CACHE_BLOCK_BYTES = 8260;   // a block's share of the cache buffer
constexpr int CHAINS = 32;
constexpr std::uint32_t DATACOMP_MARK = 0x004001F5;
constexpr std::uint32_t MAX_HEADER = 1u << 26;
constexpr double MAX_CACHE_BYTES = 1099511627776.0;   // a larger cache is refused like one that cannot be had

// What is kept of a compressed (DATACOMP) file: where each block starts.
struct Compressed {
    std::uint32_t blocks = 0;
    std::uint32_t last_size = 0;
    std::vector<std::uint64_t> offsets;   // blocks + 1 entries
    bool decoder_reported = false;
};

// One table side's registration and cache entry points.
struct SideData {
    bool registered = false;
    std::string file;
    bool compressed = false;
    Compressed comp;
    int handle = -1;              // open file, or -1
    int chain[CHAINS];
};

// The `TableDesc` of a signature.
struct TableDesc {
    const char* name = "";
    std::uint32_t count[2] = {0, 0};
    SideData side[2];
};

struct Block {
    int table, side;
    std::uint32_t start;
    int lru_next, lru_prev;      // toward older / newer blocks
    int chain_next, chain_prev;  // bucket chain of its table side; the free list uses chain_next
    std::uint8_t* data;
};

// The registry and the block cache, one for the process: the tables are shared by every
// search. Every searching thread probes through the same cache, so a probe holds the lock
// while it reads a registration or moves a block (setting up and releasing happen between
// searches, when no other thread runs).
struct Tablebases {
    EgtbSettings settings;
    std::mutex lock;
    TableDesc desc[TB_TABLES + 1];
    std::unique_ptr<std::uint8_t[]> cache_buffer;
    std::unique_ptr<Block[]> blocks;
    int block_count = 0;
    int mru = -1, lru = -1, free_list = -1;
    EgtbCacheCounters counters{};
    bool ready = false;
    bool init_tried = false;
    int pieces = 0;   // largest piece count among the registered tables (0: none)
};
Tablebases tb;

// ---- files -------------------------------------------------------------------------

void close_all_files() {
    for (TableDesc& d : tb.desc)
        for (SideData& s : d.side)
            if (s.handle >= 0) {
                close(s.handle);
                s.handle = -1;
            }
}

bool regular_file(const std::string& name, std::uint64_t* size) {
    struct stat st;
    if (stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    *size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

// A file descriptor closed when it goes out of scope.
struct File {
    int fd;
    explicit File(const std::string& name) : fd(open(name.c_str(), O_RDONLY)) {}
    ~File() {
        if (fd >= 0) close(fd);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
};

// Reads exactly n bytes at `offset`; false when the file has fewer or fails.
bool read_at(int fd, std::uint64_t offset, void* out, std::size_t n) {
    auto* p = static_cast<char*>(out);
    while (n > 0) {
        const ssize_t got = pread(fd, p, n, static_cast<off_t>(offset));
        if (got <= 0) return false;
        p += got;
        offset += static_cast<std::uint64_t>(got);
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

std::uint32_t be32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

// Reads and checks a compressed file's header. The decoder tables after the block sizes,
// the compressor's signature text and the header checksum belong to a format this engine
// does not decode; the rest is checked against the table side's position count.
bool read_compressed_header(const std::string& name, std::uint32_t count, Compressed& out) {
    std::uint64_t file_size = 0;
    const File f(name);
    if (f.fd < 0 || !regular_file(name, &file_size)) {
        messagef("*** Unable to read %s - read error\n", name.c_str());
        return false;
    }
    std::uint8_t head[80];
    if (!read_at(f.fd, 0, head, sizeof head)) {
        messagef("*** Unable to read %s - read error\n", name.c_str());
        return false;
    }
    const std::uint32_t header_size = be32(head + 64);
    const int log2 = head[70];
    const std::uint32_t n = be32(head + 72);
    if (log2 > 16 || head[71] != 24 || be32(head + 76) != DATACOMP_MARK || header_size <= 83 ||
        header_size > MAX_HEADER || header_size > file_size) {
        messagef("*** Unable to read %s - file broken\n", name.c_str());
        return false;
    }
    if (log2 != BLOCK_LOG2) {
        messagef("*** %s: Unsupported block size %d\n", name.c_str(), 1 << log2);
        return false;
    }
    if (n == 0 || n != (count + BLOCK - 1) / BLOCK) {
        messagef("*** %s corrupted\n", name.c_str());
        return false;
    }
    const std::uint64_t field_bytes = (static_cast<std::uint64_t>(n + 1) * BLOCK_LOG2 + 7) / 8;
    if (80 + field_bytes > header_size - 4) {
        messagef("*** Unable to read %s - file broken\n", name.c_str());
        return false;
    }
    std::vector<std::uint8_t> fields(field_bytes);
    if (!read_at(f.fd, 80, fields.data(), fields.size())) {
        messagef("*** Unable to read %s - read error\n", name.c_str());
        return false;
    }
    auto field = [&](std::uint32_t k) {
        std::uint32_t v = 0;
        const std::uint64_t bit0 = static_cast<std::uint64_t>(k) * BLOCK_LOG2;
        for (int b = 0; b < BLOCK_LOG2; ++b) {
            const std::uint64_t bit = bit0 + static_cast<std::uint64_t>(b);
            v = v << 1 | ((fields[bit / 8] >> (7 - bit % 8)) & 1);
        }
        return v == 0 ? BLOCK : v;
    };
    out.blocks = n;
    out.last_size = field(n);
    out.offsets.assign(n + 1, header_size);
    for (std::uint32_t k = 0; k < n; ++k) out.offsets[k + 1] = out.offsets[k] + field(k);
    const std::uint64_t uncompressed = static_cast<std::uint64_t>(n - 1) * BLOCK + out.last_size;
    if (uncompressed != count || out.offsets[n] > file_size) {
        messagef("*** %s corrupted\n", name.c_str());
        return false;
    }
    return true;
}

// Registers the file of (t, side) in `dir`, if there is a sound one.
void register_file(const std::string& dir, int t, int side) {
    SideData& s = tb.desc[t].side[side];
    const std::uint32_t count = tb.desc[t].count[side];
    const std::string base = dir + "/" + tb.desc[t].name + (side == 0 ? ".nbw" : ".nbb");
    std::uint64_t size = 0;
    if (regular_file(base, &size)) {
        const File f(base);
        if (f.fd < 0) {
            messagef("*** Unable to register %s\n", base.c_str());
            return;
        }
        const off_t end = lseek(f.fd, 0, SEEK_END);
        if (end < 0) {
            messagef("*** Seek in %s failed\n", base.c_str());
            return;
        }
        if (static_cast<std::uint64_t>(end) != count) {
            messagef("*** %s corrupted\n", base.c_str());
            return;
        }
        s.file = base;
        s.compressed = false;
        s.registered = true;
        return;
    }
    std::string name = base + ".emd";
    if (!regular_file(name, &size)) {
        name = dir + "/" + tb.desc[t].name + (side == 0 ? "nbw.emd" : "nbb.emd");
        if (!regular_file(name, &size)) return;
    }
    Compressed comp;
    if (!read_compressed_header(name, count, comp)) return;
    s.file = name;
    s.compressed = true;
    s.comp = std::move(comp);
    s.registered = true;
}

void register_tables() {
    close_all_files();
    tb_init_index();
    for (int t = 1; t <= TB_TABLES; ++t) {
        tb.desc[t] = TableDesc{};
        tb.desc[t].name = tb_name(t);
        for (int side = 0; side < 2; ++side) {
            tb.desc[t].count[side] = tb_count(t, side);
            std::fill(std::begin(tb.desc[t].side[side].chain), std::end(tb.desc[t].side[side].chain), -1);
        }
    }
    std::size_t start = 0;
    const std::string& path = egtb_settings().path;
    while (start <= path.size()) {
        std::size_t end = path.find_first_of(",;", start);
        if (end == std::string::npos) end = path.size();
        const std::string dir = path.substr(start, end - start);
        if (!dir.empty())
            for (int t = 1; t <= TB_TABLES; ++t)
                for (int side = 0; side < 2; ++side)
                    if (!tb.desc[t].side[side].registered) register_file(dir, t, side);
        start = end + 1;
    }
    tb.pieces = 0;
    for (int t = 1; t <= TB_TABLES; ++t)
        if (tb.desc[t].side[0].registered || tb.desc[t].side[1].registered)
            tb.pieces = std::max(tb.pieces, tb_piece_count(t));
}

// ---- cache ---------------------------------------------------------------------------

void lru_unlink(int b) {
    Block& k = tb.blocks[b];
    if (k.lru_prev >= 0) tb.blocks[k.lru_prev].lru_next = k.lru_next; else tb.mru = k.lru_next;
    if (k.lru_next >= 0) tb.blocks[k.lru_next].lru_prev = k.lru_prev; else tb.lru = k.lru_prev;
}

void lru_push_front(int b) {
    Block& k = tb.blocks[b];
    k.lru_prev = -1;
    k.lru_next = tb.mru;
    if (tb.mru >= 0) tb.blocks[tb.mru].lru_prev = b;
    tb.mru = b;
    if (tb.lru < 0) tb.lru = b;
}

int& chain_head(const Block& k) { return tb.desc[k.table].side[k.side].chain[(k.start / BLOCK) % CHAINS]; }

void chain_unlink(int b) {
    Block& k = tb.blocks[b];
    if (k.chain_prev >= 0) tb.blocks[k.chain_prev].chain_next = k.chain_next; else chain_head(k) = k.chain_next;
    if (k.chain_next >= 0) tb.blocks[k.chain_next].chain_prev = k.chain_prev;
}

void chain_push_front(int b) {
    Block& k = tb.blocks[b];
    int& head = chain_head(k);
    k.chain_prev = -1;
    k.chain_next = head;
    if (head >= 0) tb.blocks[head].chain_prev = b;
    head = b;
}

void reset_cache() {
    close_all_files();
    tb.counters = EgtbCacheCounters{};
    tb.mru = tb.lru = -1;
    tb.free_list = -1;
    for (int b = tb.block_count - 1; b >= 0; --b) {
        tb.blocks[b] = Block{0, 0, 0, -1, -1, tb.free_list, -1, tb.cache_buffer.get() + static_cast<std::size_t>(b) * BLOCK};
        tb.free_list = b;
    }
    for (TableDesc& d : tb.desc)
        for (SideData& s : d.side) std::fill(std::begin(s.chain), std::end(s.chain), -1);
}

// Takes a table side out of play after its file failed.
void unregister(int t, int side) {
    SideData& s = tb.desc[t].side[side];
    if (s.handle >= 0) close(s.handle);
    s.handle = -1;
    s.registered = false;
    messagef("*** Unable to read %s - read error\n", s.file.c_str());
    // Its cached blocks would answer no more: give them back.
    for (int c = 0; c < CHAINS; ++c)
        while (s.chain[c] >= 0) {
            const int b = s.chain[c];
            chain_unlink(b);
            lru_unlink(b);
            tb.blocks[b].chain_next = tb.free_list;
            tb.free_list = b;
        }
}

// Fills block b with block number `number` of (t, side). 1: done; 0: the file failed;
// -1: the block cannot be read here (it needs the DATACOMP decoder).
int load_block(int b, int t, int side, std::uint32_t number) {
    SideData& s = tb.desc[t].side[side];
    if (s.handle < 0) {
        s.handle = open(s.file.c_str(), O_RDONLY);
        if (s.handle < 0) {
            close_all_files();   // perhaps too many open files
            s.handle = open(s.file.c_str(), O_RDONLY);
            if (s.handle < 0) return 0;
        }
    }
    std::uint8_t* data = tb.blocks[b].data;
    const std::uint32_t start = number * BLOCK;
    const std::uint32_t size = std::min<std::uint32_t>(BLOCK, tb.desc[t].count[side] - start);
    if (!s.compressed) return read_at(s.handle, start, data, size) ? 1 : 0;
    const Compressed& c = s.comp;
    if (number >= c.blocks) return 0;
    const std::uint64_t packed = c.offsets[number + 1] - c.offsets[number];
    const std::uint32_t unpacked = number + 1 == c.blocks ? c.last_size : BLOCK;
    if (packed == unpacked) return read_at(s.handle, c.offsets[number], data, unpacked) ? 1 : 0;
    if (!s.comp.decoder_reported) {
        s.comp.decoder_reported = true;
        messagef("*** %s: compressed blocks need the DATACOMP decoder, which this engine lacks; they give no answer\n",
                    s.file.c_str());
    }
    return -1;
}

inline int stored_byte(const Block& k, std::uint32_t index) {
    return static_cast<std::int8_t>(k.data[index - k.start]);
}

}  // namespace

EgtbSettings& egtb_settings() { return tb.settings; }

namespace {

// egtb_read with the lock held.
int read_locked(int t, int side, std::uint32_t index) {
    if (tb.block_count == 0 || t < 1 || t > TB_TABLES || side < 0 || side > 1) return 127;
    SideData& s = tb.desc[t].side[side];
    if (!s.registered || index >= tb.desc[t].count[side]) return 127;
    ++tb.counters.reads;
    const std::uint32_t number = index / BLOCK;
    int& head = s.chain[number % CHAINS];
    for (int b = head; b >= 0; b = tb.blocks[b].chain_next) {
        if (tb.blocks[b].start != number * BLOCK) continue;
        ++tb.counters.hits;
        if (b != tb.mru) {
            lru_unlink(b);
            lru_push_front(b);
        }
        if (b != head) {
            chain_unlink(b);
            chain_push_front(b);
        }
        return stored_byte(tb.blocks[b], index);
    }
    int b = tb.free_list;
    if (b >= 0) {
        tb.free_list = tb.blocks[b].chain_next;
    } else {
        b = tb.lru;
        lru_unlink(b);
        chain_unlink(b);
    }
    Block& k = tb.blocks[b];
    k.table = t;
    k.side = side;
    k.start = number * BLOCK;
    const int loaded = load_block(b, t, side, number);
    if (loaded <= 0) {
        k.chain_next = tb.free_list;
        tb.free_list = b;
        if (loaded == 0) unregister(t, side);
        return 127;
    }
    ++tb.counters.loads;
    lru_push_front(b);
    chain_push_front(b);
    return stored_byte(k, index);
}

}  // namespace

int egtb_read(int t, int side, std::uint32_t index) {
    const std::lock_guard hold(tb.lock);
    return read_locked(t, side, index);
}

int egtb_init(bool print_settings) {
    if (print_settings) {
        messagef("init egtb....\n");
        messagef("egtb_path = %s\n", egtb_settings().path.c_str());
        messagef("egtb_cache_size = %g\n", egtb_settings().cache_mb);
    }
    tb.ready = false;
    register_tables();
    messagef("%d pieces endgame tablebases found\n", tb.pieces);
    const double mb = egtb_settings().cache_mb;
    const double wanted = mb > 0 ? std::floor(mb * 1048576.0) : 0.0;   // NaN and negatives: no cache
    tb.cache_buffer.reset();
    tb.blocks.reset();
    tb.block_count = 0;
    std::size_t bytes = 0;
    if (wanted > 0) {
        if (wanted <= MAX_CACHE_BYTES) {
            bytes = static_cast<std::size_t>(wanted);
            tb.cache_buffer.reset(new (std::nothrow) std::uint8_t[bytes]);
            const std::size_t n = bytes / CACHE_BLOCK_BYTES;
            if (tb.cache_buffer && n > 0) {
                tb.blocks.reset(new (std::nothrow) Block[n]);
                if (!tb.blocks) tb.cache_buffer.reset();
                else tb.block_count = static_cast<int>(std::min<std::size_t>(n, 1u << 30));
            }
        }
        if (!tb.cache_buffer) {
            messagef("could not allocate egtb_cache_size.\n");
            return 0;
        }
    }
    reset_cache();
    if (bytes < 32 && mb != 0) {
        messagef("could not anable egtb_cache_size.\n");
        return 0;
    }
    tb.ready = true;
    return 1;
}

bool egtb_init_once(bool print_settings) {
    if (!tb.init_tried) {
        tb.init_tried = true;
        egtb_init(print_settings);
    }
    return tb.ready;
}

bool egtb_ready() { return tb.ready; }

bool egtb_registered(int t, int side) {
    return t >= 1 && t <= TB_TABLES && side >= 0 && side <= 1 && tb.desc[t].side[side].registered;
}

EgtbCacheCounters egtb_cache_counters() {
    const std::lock_guard hold(tb.lock);
    return tb.counters;
}

void egtb_release() {
    close_all_files();
    for (TableDesc& d : tb.desc) d = TableDesc{};
    tb.cache_buffer.reset();
    tb.blocks.reset();
    tb.block_count = 0;
    tb.mru = tb.lru = tb.free_list = -1;
    tb.pieces = 0;
    tb.ready = false;
}

int egtb_pieces() { return tb.pieces; }

int egtb_probe(const Position& pos) {
    const PlyState& st = pos.cur();
    const int ply = pos.ply;
    TbSet sets[2];
    int counts[2][6] = {};
    for (int c = 0; c < 2; ++c) {
        const int colour = c == 0 ? 1 : -1;
        TbSet& set = sets[c];
        const std::int8_t* kings = st.piece_lists.sq[6 + 6 * colour];
        if (kings[0] != 1) return -1;
        set.n = 1;
        set.type[0] = KING;
        set.sq[0] = sq64[kings[1]];
        // Signature order: queens, rooks, bishops, knights, pawns.
        for (int type = QUEEN; type >= PAWN; --type) {
            const std::int8_t* list = st.piece_lists.sq[type * colour + 6];
            for (int k = 1; k <= list[0]; ++k) {
                if (set.n == TB_MAX_SET) return -1;
                set.type[set.n] = type;
                set.sq[set.n++] = sq64[list[k]];
                ++counts[c][type];
            }
        }
    }
    const int found = tb_material(counts);
    if (found == 0) return -1;
    const int t = found > 0 ? found : -found;
    const int white_to_move = pos.side == WHITE;
    const int table_side = found > 0 ? (white_to_move ? 0 : 1) : (white_to_move ? 1 : 0);
    std::unique_lock hold(tb.lock);
    if (!tb.desc[t].side[table_side].registered) return -1;
    const int ep = st.ep != 0 ? sq64[st.ep] : 64;
    const std::uint32_t index = found > 0 ? tb_index(t, table_side, sets[0], sets[1], ep, 0)
                                          : tb_index(t, table_side, sets[1], sets[0], ep, 1);
    if (index == TB_NO_INDEX) return -1;
    const int v = read_locked(t, table_side, index);
    hold.unlock();
    int tb_value;
    if (v == 127) return -1;
    if (v == 0) return 0;
    if (v > 0) tb_value = v + 32640;
    else if (v >= -126) tb_value = v - 32640;
    else if (v == -127) tb_value = -32640;
    else tb_value = 32640;
    // Seven positions of kppkp with Black to move are lost in one move more than the
    // stored marker of a loss beyond the byte's range says.
    static constexpr std::uint32_t long_losses[] = {56802428, 56811076, 56849992, 56858640,
                                                     59592489, 67775659, 71071628};
    if (t == 36 && table_side == 1 && v == -127 &&
        std::find(std::begin(long_losses), std::end(long_losses), index) != std::end(long_losses))
        tb_value = -32639;
    // The search's mate scale: mate in n moves at ply p scores 32000 - 2n - p, being mated
    // after n moves scores -31999 + 2n + p.
    return tb_value > 0 ? 2 * tb_value - 33534 - ply : ply + 2 * tb_value + 33533;
}

}  // namespace varkon
