#include "egtb/tbindex.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace varkon {

namespace {

constexpr const char* catalogue[TB_TABLES + 1] = {
    "",      "kpk",   "knk",   "kbk",   "krk",   "kqk",   "kpkp",  "knkp",  "knkn",  "kbkp",  "kbkn",  "kbkb",
    "krkp",  "krkn",  "krkb",  "krkr",  "kqkp",  "kqkn",  "kqkb",  "kqkr",  "kqkq",  "kppk",  "knpk",  "knnk",
    "kbpk",  "kbnk",  "kbbk",  "krpk",  "krnk",  "krbk",  "krrk",  "kqpk",  "kqnk",  "kqbk",  "kqrk",  "kqqk",
    "kppkp", "kppkn", "kppkb", "kppkr", "kppkq", "knpkp", "knpkn", "knpkb", "knpkr", "knpkq", "knnkp", "knnkn",
    "knnkb", "knnkr", "knnkq", "kbpkp", "kbpkn", "kbpkb", "kbpkr", "kbpkq", "kbnkp", "kbnkn", "kbnkb", "kbnkr",
    "kbnkq", "kbbkp", "kbbkn", "kbbkb", "kbbkr", "kbbkq", "krpkp", "krpkn", "krpkb", "krpkr", "krpkq", "krnkp",
    "krnkn", "krnkb", "krnkr", "krnkq", "krbkp", "krbkn", "krbkb", "krbkr", "krbkq", "krrkp", "krrkn", "krrkb",
    "krrkr", "krrkq", "kqpkp", "kqpkn", "kqpkb", "kqpkr", "kqpkq", "kqnkp", "kqnkn", "kqnkb", "kqnkr", "kqnkq",
    "kqbkp", "kqbkn", "kqbkb", "kqbkr", "kqbkq", "kqrkp", "kqrkn", "kqrkb", "kqrkr", "kqrkq", "kqqkp", "kqqkn",
    "kqqkb", "kqqkr", "kqqkq", "kpppk", "knppk", "knnpk", "knnnk", "kbppk", "kbnpk", "kbnnk", "kbbpk", "kbbnk",
    "kbbbk", "krppk", "krnpk", "krnnk", "krbpk", "krbnk", "krbbk", "krrpk", "krrnk", "krrbk", "krrrk", "kqppk",
    "kqnpk", "kqnnk", "kqbpk", "kqbnk", "kqbbk", "kqrpk", "kqrnk", "kqrbk", "kqrrk", "kqqpk", "kqqnk", "kqqbk",
    "kqqrk", "kqqqk",
};

constexpr int PAWN_T = 1, KING_T = 6;
constexpr int MAX_PAIRS = 1806;
constexpr int PAIRS[2] = {462, 1806};   // [pawns]
constexpr std::uint8_t NONE = 255;

// Enumeration letters: a pawn of the side not to move as the first piece counted (squares
// of ranks 2 to 7 but the kings'), and the pieces of the side to move, which may stand
// anywhere but on the squares where they would give the other king a check no piece can
// block (a pawn: its two capture squares; a knight: its jumps; bishop, rook, queen: the
// neighbouring squares on their lines).
enum Letter { L_FIRST_PAWN = 0, L_PAWN = 1, L_KNIGHT, L_BISHOP, L_ROOK, L_QUEEN, LETTERS };

enum Mode : std::uint8_t {
    RESTRICTED,   // a piece of the side to move: the squares of its letter but the kings'
    FIRST_PAWN,   // pawns of the side not to move counted first: ranks 2 to 7 but the kings'
    SKIP,         // a piece of the side not to move: any square but the kings' and earlier pieces'
    PAWN_SKIP,    // a pawn of the side not to move: ranks 2 to 7 but earlier pawns' squares
};

struct Group {
    std::uint8_t type, count, mover, mode, letter, fixed_n;
    std::uint8_t flat;   // position of its first piece in the flat list (mover's pieces, then the other's)
};

struct Shape {
    bool pawns = false, ep = false;
    int ngroups = 0;
    Group g[3] = {};
    int n_mover = 0, n_other = 0;   // pieces besides the kings
    std::uint8_t flat_type[3] = {}; // types in flat order
    int ep_other_type = 0;          // type of the piece besides the two pawns of an en-passant position
    int ep_other_mover = 0;         // it belongs to the side to move
    std::uint32_t ep_other_size = 1;
    std::uint32_t ep_size = 0;
    std::vector<std::uint32_t> base;      // per king pair; base[pairs] is the untrimmed size
    std::vector<std::uint32_t> regular;   // per king pair: positions without en passant
    std::uint32_t count = 0;
};

struct Tables {
    std::uint8_t rank[LETTERS][64][64];     // [letter][king][square]
    std::uint8_t square[LETTERS][64][65];   // inverse: [letter][king][rank]
    std::int16_t pair[2][64][64];           // [pawns][reference king][other king]
    std::uint8_t pair_king[2][MAX_PAIRS][2];
    std::uint16_t letter_n[2][LETTERS][MAX_PAIRS];
    std::uint32_t binom[65][4];
    std::uint8_t ep_config[8][2];           // [file of the pawn that stepped][capturer right of it]
    std::uint8_t ep_config_file[14], ep_config_capturer[14];
    std::int8_t side_id[1024];              // material code of a side -> 0..55
    std::int16_t material[56][56];
    Shape shape[TB_TABLES + 1][2];
};

Tables tables;

constexpr bool adjacent(int a, int b) {
    const int df = (a & 7) - (b & 7), dr = (a >> 3) - (b >> 3);
    return a != b && df >= -1 && df <= 1 && dr >= -1 && dr <= 1;
}

// Whether a piece of letter `l` on `s` would stand outside its letter's squares for king `k`.
bool excluded(int l, int k, int s) {
    if (s == k) return true;
    const int df = (s & 7) - (k & 7), dr = (s >> 3) - (k >> 3);
    const int adf = df < 0 ? -df : df, adr = dr < 0 ? -dr : dr;
    switch (l) {
        case L_FIRST_PAWN: return s < 8 || s > 55;
        case L_PAWN: return s < 8 || s > 55 || (dr == -1 && adf == 1);
        case L_KNIGHT: return (adf == 1 && adr == 2) || (adf == 2 && adr == 1);
        case L_BISHOP: return adf == 1 && adr == 1;
        case L_ROOK: return adf + adr == 1;
        default: return adf <= 1 && adr <= 1;
    }
}

int letter_of(char c) {
    switch (c) {
        case 'p': return 1;
        case 'n': return 2;
        case 'b': return 3;
        case 'r': return 4;
        case 'q': return 5;
        default: return 0;
    }
}

// Material code of one side: two bits per type.
int side_code(const int* count) {
    int code = 0;
    for (int type = 1; type <= 5; ++type) {
        if (count[type] < 0 || count[type] > 3) return -1;
        code |= count[type] << (2 * (type - 1));
    }
    return code;
}

void parse(int t, std::string& first, std::string& second) {
    const std::string name = catalogue[t];
    const std::size_t k2 = name.find('k', 1);
    first = name.substr(1, k2 - 1);
    second = name.substr(k2 + 1);
}

Shape make_shape(int t, int side) {
    std::string first, second;
    parse(t, first, second);
    const std::string& mover = side == 0 ? first : second;
    const std::string& other = side == 0 ? second : first;
    Shape sh;
    sh.pawns = (first + second).find('p') != std::string::npos;
    sh.ep = first.find('p') != std::string::npos && second.find('p') != std::string::npos;
    sh.n_mover = static_cast<int>(mover.size());
    sh.n_other = static_cast<int>(other.size());
    int pieces_before = 0, pawns_before = 0, flat = 0;
    auto add_groups = [&](const std::string& letters, bool is_mover) {
        for (std::size_t i = 0; i < letters.size();) {
            std::size_t j = i;
            while (j < letters.size() && letters[j] == letters[i]) ++j;
            Group g{};
            g.type = static_cast<std::uint8_t>(letter_of(letters[i]));
            g.count = static_cast<std::uint8_t>(j - i);
            g.mover = is_mover;
            g.flat = static_cast<std::uint8_t>(flat);
            if (is_mover) {
                g.mode = RESTRICTED;
                g.letter = g.type;
            } else if (g.type == PAWN_T) {
                const bool first_counted = pieces_before == 0;
                g.mode = first_counted ? FIRST_PAWN : PAWN_SKIP;
                g.letter = L_FIRST_PAWN;
                g.fixed_n = static_cast<std::uint8_t>(48 - pawns_before);
            } else {
                g.mode = SKIP;
                g.fixed_n = static_cast<std::uint8_t>(62 - pieces_before);
            }
            sh.g[sh.ngroups++] = g;
            for (int q = 0; q < g.count; ++q) sh.flat_type[flat + q] = g.type;
            pieces_before += g.count;
            if (g.type == PAWN_T) pawns_before += g.count;
            flat += g.count;
            i = j;
        }
    };
    add_groups(mover, true);
    add_groups(other, false);
    if (sh.ep && sh.n_mover + sh.n_other == 3) {
        // The piece besides the capturing pawn and the pawn that stepped.
        std::string rest_mover = mover, rest_other = other;
        rest_mover.erase(rest_mover.find('p'), 1);
        rest_other.erase(rest_other.find('p'), 1);
        sh.ep_other_mover = !rest_mover.empty();
        sh.ep_other_type = letter_of((rest_mover + rest_other)[0]);
        sh.ep_other_size = sh.ep_other_type == PAWN_T ? 44 : 60;
    }
    sh.ep_size = sh.ep ? 14 * sh.ep_other_size : 0;
    return sh;
}

inline std::uint32_t group_n(const Shape& sh, const Group& g, int pair) {
    return (g.mode == RESTRICTED || g.mode == FIRST_PAWN) ? tables.letter_n[sh.pawns][g.letter][pair] : g.fixed_n;
}

inline std::uint32_t group_radix(const Shape& sh, const Group& g, int pair) {
    return tables.binom[group_n(sh, g, pair)][g.count];
}

// The board transformation that brings the reference king `mk` (with the other king
// `ok`) into the normal part of the board: bits 0-5 an exclusive-or mask, bit 6 the
// reflection in the long diagonal.
inline int normal_transform(bool pawns, int mk, int ok) {
    if (pawns) return (mk & 7) >= 4 ? 7 : 0;
    const int x = ((mk & 7) >= 4 ? 7 : 0) ^ ((mk & 56) >= 32 ? 56 : 0);
    const int m = mk ^ x, o = ok ^ x;
    const int mf = m & 7, mr = m >> 3, of = o & 7, orr = o >> 3;
    return (mr > mf || (mr == mf && orr > of)) ? x | 64 : x;
}

inline int reflect(int s) { return (s & 7) * 8 + (s >> 3); }

inline int apply_transform(int tr, int s) {
    s ^= tr & 63;
    return (tr & 64) ? reflect(s) : s;
}

// The index of a normalised position: kings mk (side to move) and ok, the other pieces
// in flat order, and the en-passant square (64: none).
std::uint32_t index_normal(const Shape& sh, int mk, int ok, const int* flat, int ep) {
    const int pair = tables.pair[sh.pawns][mk][ok];
    if (pair < 0) return TB_NO_INDEX;
    const int n_flat = sh.n_mover + sh.n_other;
    if (sh.ep && ep < 64 && (ep >> 3) == 5) {
        const int pawn = ep - 8, f = ep & 7;
        int stepped = -1, capturer = -1, right = 0;
        for (int i = sh.n_mover; i < n_flat; ++i)
            if (flat[i] == pawn && sh.flat_type[i] == PAWN_T) stepped = i;
        for (int i = 0; i < sh.n_mover && stepped >= 0; ++i) {
            if (sh.flat_type[i] != PAWN_T) continue;
            // The capturer on the left is taken when there are two.
            if (f > 0 && flat[i] == pawn - 1) {
                capturer = i;
                right = 0;
                break;
            }
            if (f < 7 && flat[i] == pawn + 1) capturer = i, right = 1;
        }
        if (capturer >= 0) {
            const std::uint32_t config = tables.ep_config[f][right];
            std::uint32_t other_rank = 0;
            if (sh.ep_other_size > 1) {
                int o = 0;
                while (o == capturer || o == stepped) ++o;
                const int s = flat[o];
                const int taken[4] = {flat[capturer], pawn, ep, ep + 8};
                int r = s;
                if (sh.ep_other_type == PAWN_T) {
                    if (s < 8 || s > 55) return TB_NO_INDEX;
                    r -= 8;
                }
                for (int x : taken) {
                    if (x == s) return TB_NO_INDEX;
                    if (x < s) --r;
                }
                other_rank = static_cast<std::uint32_t>(r);
            }
            return sh.base[pair] + sh.regular[pair] + config * sh.ep_other_size + other_rank;
        }
    }
    std::uint64_t idx = 0;
    int before[3];
    bool before_pawn[3];
    int n_before = 0;
    for (int gi = 0; gi < sh.ngroups; ++gi) {
        const Group& g = sh.g[gi];
        int r[3];
        for (int q = 0; q < g.count; ++q) {
            const int s = flat[g.flat + q];
            if (s < 0 || s > 63 || s == mk || s == ok) return TB_NO_INDEX;
            int v;
            switch (g.mode) {
                case RESTRICTED:
                case FIRST_PAWN: {
                    const int ka = g.mode == RESTRICTED ? ok : mk, kb = g.mode == RESTRICTED ? mk : ok;
                    v = tables.rank[g.letter][ka][s];
                    if (v == NONE) return TB_NO_INDEX;
                    if (kb < s && tables.rank[g.letter][ka][kb] != NONE) --v;
                    break;
                }
                case SKIP:
                    v = s - (mk < s) - (ok < s);
                    for (int k = 0; k < n_before; ++k) {
                        if (before[k] == s) return TB_NO_INDEX;
                        v -= before[k] < s;
                    }
                    break;
                default:
                    if (s < 8 || s > 55) return TB_NO_INDEX;
                    v = s - 8;
                    for (int k = 0; k < n_before; ++k) {
                        if (!before_pawn[k]) continue;
                        if (before[k] == s) return TB_NO_INDEX;
                        v -= before[k] < s;
                    }
                    break;
            }
            r[q] = v;
        }
        for (int a = 1; a < g.count; ++a)
            for (int k = a; k > 0 && r[k] < r[k - 1]; --k) std::swap(r[k], r[k - 1]);
        std::uint32_t combo = 0;
        for (int q = 0; q < g.count; ++q) {
            if (q > 0 && r[q] == r[q - 1]) return TB_NO_INDEX;
            combo += tables.binom[r[q]][q + 1];
        }
        const std::uint32_t radix = group_radix(sh, g, pair);
        if (combo >= radix) return TB_NO_INDEX;
        idx = idx * radix + combo;
        for (int q = 0; q < g.count; ++q) {
            before[n_before] = flat[g.flat + q];
            before_pawn[n_before++] = g.type == PAWN_T;
        }
    }
    return static_cast<std::uint32_t>(sh.base[pair] + idx);
}

// The square of rank v among the open squares of a letter for king ka, the square of
// king kb left out.
inline int letter_square(int letter, int ka, int kb, int v) {
    int s = tables.square[letter][ka][v];
    if (tables.rank[letter][ka][kb] != NONE && s >= kb) s = tables.square[letter][ka][v + 1];
    return s;
}

// The square of rank v among the squares from `low` on, those of `taken` (ascending) left out.
inline int skip_square(int v, int low, const int* taken, int n) {
    int s = v + low;
    for (int k = 0; k < n; ++k)
        if (taken[k] <= s) ++s;
    return s;
}

void insert_sorted(int* list, int& n, int s) {
    int k = n++;
    for (; k > 0 && list[k - 1] > s; --k) list[k] = list[k - 1];
    list[k] = s;
}

// The normal squares of the pieces of group g from its combination number x: `skip`
// holds the kings' and the earlier pieces' squares ascending, `pawns` the earlier pawns'.
void group_squares(const Group& g, std::uint32_t x, int mk, int ok, const int* skip, int n_skip, const int* pawns,
                   int n_pawns, int* out) {
    int r[3];
    for (int q = g.count; q >= 2; --q) {
        // The largest c with binom(c, q) <= x.
        int lo = q - 1, hi = 64;
        while (hi - lo > 1) {
            const int mid = (lo + hi) / 2;
            if (tables.binom[mid][q] <= x) lo = mid; else hi = mid;
        }
        r[q - 1] = lo;
        x -= tables.binom[lo][q];
    }
    r[0] = static_cast<int>(x);
    for (int q = 0; q < g.count; ++q) {
        switch (g.mode) {
            case RESTRICTED: out[q] = letter_square(g.letter, ok, mk, r[q]); break;
            case FIRST_PAWN: out[q] = letter_square(g.letter, mk, ok, r[q]); break;
            case SKIP: out[q] = skip_square(r[q], 0, skip, n_skip); break;
            default: out[q] = skip_square(r[q], 8, pawns, n_pawns); break;
        }
    }
}

// Decodes an index into normalised squares: kings, flat list, en-passant square.
// `pair`, when not negative, is the king pair of the index.
bool decode_normal(const Shape& sh, std::uint32_t index, int& mk, int& ok, int* flat, int* types, bool* mover, int& ep,
                   int pair = -1) {
    const int pairs = PAIRS[sh.pawns];
    if (index >= sh.base[pairs]) return false;
    if (pair < 0) pair = static_cast<int>(std::upper_bound(sh.base.begin(), sh.base.end(), index) - sh.base.begin()) - 1;
    mk = tables.pair_king[sh.pawns][pair][0];
    ok = tables.pair_king[sh.pawns][pair][1];
    std::uint32_t off = index - sh.base[pair];
    ep = 64;
    if (off >= sh.regular[pair]) {
        off -= sh.regular[pair];
        const std::uint32_t config = off / sh.ep_other_size;
        const int r = static_cast<int>(off % sh.ep_other_size);
        const int f = tables.ep_config_file[config], c = tables.ep_config_capturer[config];
        const int pawn = 32 + f;
        ep = 40 + f;
        int n = 0;
        flat[n] = 32 + c, types[n] = PAWN_T, mover[n++] = true;
        flat[n] = pawn, types[n] = PAWN_T, mover[n++] = false;
        if (sh.ep_other_size > 1) {
            int taken[4] = {32 + c, pawn, ep, ep + 8};
            std::sort(taken, taken + 4);
            flat[n] = skip_square(r, sh.ep_other_type == PAWN_T ? 8 : 0, taken, 4);
            types[n] = sh.ep_other_type;
            mover[n++] = sh.ep_other_mover;
        }
        return true;
    }
    std::uint32_t ranks_combo[3];
    for (int gi = sh.ngroups - 1; gi >= 0; --gi) {
        const std::uint32_t radix = group_radix(sh, sh.g[gi], pair);
        ranks_combo[gi] = off % radix;
        off /= radix;
    }
    int skip[5] = {std::min(mk, ok), std::max(mk, ok)}, n_skip = 2, pawns_taken[3], n_pawns = 0;
    for (int gi = 0; gi < sh.ngroups; ++gi) {
        const Group& g = sh.g[gi];
        group_squares(g, ranks_combo[gi], mk, ok, skip, n_skip, pawns_taken, n_pawns, flat + g.flat);
        for (int q = 0; q < g.count; ++q) {
            types[g.flat + q] = g.type;
            mover[g.flat + q] = g.mover;
            insert_sorted(skip, n_skip, flat[g.flat + q]);
            if (g.type == PAWN_T) insert_sorted(pawns_taken, n_pawns, flat[g.flat + q]);
        }
    }
    return true;
}

void build_tables() {
    Tables& t = tables;
    for (int n = 0; n <= 64; ++n)
        for (int k = 0; k < 4; ++k) {
            std::uint64_t c = 1;
            for (int i = 0; i < k; ++i) c = c * static_cast<std::uint64_t>(n - i) / static_cast<std::uint64_t>(i + 1);
            t.binom[n][k] = n < k ? 0 : static_cast<std::uint32_t>(c);
        }
    for (int l = 0; l < LETTERS; ++l)
        for (int k = 0; k < 64; ++k) {
            int r = 0;
            std::memset(t.square[l][k], NONE, sizeof t.square[l][k]);
            for (int s = 0; s < 64; ++s) {
                if (excluded(l, k, s)) {
                    t.rank[l][k][s] = NONE;
                } else {
                    t.square[l][k][r] = static_cast<std::uint8_t>(s);
                    t.rank[l][k][s] = static_cast<std::uint8_t>(r++);
                }
            }
        }
    // King pairs: the reference king in the normal part of the board, in square order,
    // then the other king in square order.
    std::memset(t.pair, -1, sizeof t.pair);
    for (int pawns = 0; pawns < 2; ++pawns) {
        int n = 0;
        for (int m = 0; m < 64; ++m) {
            const int mf = m & 7, mr = m >> 3;
            if (pawns ? mf >= 4 : (mf >= 4 || mr >= 4 || mr > mf)) continue;
            for (int o = 0; o < 64; ++o) {
                if (o == m || adjacent(m, o)) continue;
                if (!pawns && mr == mf && (o >> 3) > (o & 7)) continue;
                t.pair[pawns][m][o] = static_cast<std::int16_t>(n);
                t.pair_king[pawns][n][0] = static_cast<std::uint8_t>(m);
                t.pair_king[pawns][n][1] = static_cast<std::uint8_t>(o);
                for (int l = 0; l < LETTERS; ++l) {
                    // Letters of the side to move count around the other king, the first
                    // pawn of the side not to move around the reference king.
                    const int ka = l == L_FIRST_PAWN ? m : o, kb = l == L_FIRST_PAWN ? o : m;
                    int open = 0;
                    for (int s = 0; s < 64; ++s) open += t.rank[l][ka][s] != NONE;
                    t.letter_n[pawns][l][n] = static_cast<std::uint16_t>(open - (t.rank[l][ka][kb] != NONE));
                }
                ++n;
            }
        }
    }
    int config = 0;
    for (int f = 0; f < 8; ++f)
        for (int right = 0; right < 2; ++right) {
            if ((right == 0 && f == 0) || (right == 1 && f == 7)) continue;
            t.ep_config[f][right] = static_cast<std::uint8_t>(config);
            t.ep_config_file[config] = static_cast<std::uint8_t>(f);
            t.ep_config_capturer[config++] = static_cast<std::uint8_t>(right ? f + 1 : f - 1);
        }
    std::memset(t.side_id, -1, sizeof t.side_id);
    std::memset(t.material, 0, sizeof t.material);
    int ids = 0;
    for (int code = 0; code < 1024; ++code) {
        int total = 0;
        for (int k = 0; k < 5; ++k) total += (code >> (2 * k)) & 3;
        if (total <= 3) t.side_id[code] = static_cast<std::int8_t>(ids++);
    }
    for (int n = 1; n <= TB_TABLES; ++n) {
        std::string first, second;
        parse(n, first, second);
        int c1[6] = {}, c2[6] = {};
        for (char c : first) ++c1[letter_of(c)];
        for (char c : second) ++c2[letter_of(c)];
        const int a = t.side_id[side_code(c1)], b = t.side_id[side_code(c2)];
        t.material[a][b] = static_cast<std::int16_t>(n);
        if (a != b) t.material[b][a] = static_cast<std::int16_t>(-n);
        for (int side = 0; side < 2; ++side) {
            Shape& sh = t.shape[n][side];
            sh = make_shape(n, side);
            const int pairs = PAIRS[sh.pawns];
            sh.base.assign(pairs + 1, 0);
            sh.regular.assign(pairs, 0);
            std::uint64_t total = 0;
            for (int p = 0; p < pairs; ++p) {
                std::uint64_t regular = 1;
                for (int gi = 0; gi < sh.ngroups; ++gi) regular *= group_radix(sh, sh.g[gi], p);
                sh.base[p] = static_cast<std::uint32_t>(total);
                sh.regular[p] = static_cast<std::uint32_t>(regular);
                total += regular + sh.ep_size;
            }
            sh.base[pairs] = static_cast<std::uint32_t>(total);
        }
    }
    // The count of a table side ends with its last legal position.
    for (int n = 1; n <= TB_TABLES; ++n)
        for (int side = 0; side < 2; ++side) {
            Shape& sh = t.shape[n][side];
            std::uint32_t end = sh.base[PAIRS[sh.pawns]];
            TbBoard b;
            while (end > 0 && !(tb_decode(n, side, end - 1, b) && tb_legal(b))) --end;
            sh.count = end;
        }
}

// The flat list of a table side's non-king pieces from the two sets: side to move first.
bool flatten(const Shape& sh, const TbSet& mover, const TbSet& other, int tr, int v, int* flat) {
    if (mover.n != sh.n_mover + 1 || other.n != sh.n_other + 1) return false;
    for (int gi = 0; gi < sh.ngroups; ++gi) {
        const Group& g = sh.g[gi];
        const TbSet& set = g.mover ? mover : other;
        const int first = g.mover ? g.flat + 1 : g.flat - sh.n_mover + 1;
        for (int q = 0; q < g.count; ++q) {
            if (set.type[first + q] != g.type) return false;
            const int s = set.sq[first + q];
            if (s < 0 || s > 63) return false;
            flat[g.flat + q] = apply_transform(tr, s ^ v);
        }
    }
    return true;
}

bool decode_board(const Shape& sh, int side, std::uint32_t index, int pair, TbBoard& out) {
    int mk, ok, flat[3], types[3], ep;
    bool mover[3];
    if (!decode_normal(sh, index, mk, ok, flat, types, mover, ep, pair)) return false;
    const int v = side ? 56 : 0;
    TbSet& ms = out.set[side];
    TbSet& os = out.set[1 - side];
    ms = TbSet{};
    os = TbSet{};
    ms.n = os.n = 1;
    ms.type[0] = os.type[0] = KING_T;
    ms.sq[0] = mk ^ v;
    os.sq[0] = ok ^ v;
    for (int i = 0; i < sh.n_mover + sh.n_other; ++i) {
        TbSet& s = mover[i] ? ms : os;
        int k = s.n++;
        // Keep signature order: types from queen down to pawn.
        for (; k > 1 && s.type[k - 1] < types[i]; --k) {
            s.type[k] = s.type[k - 1];
            s.sq[k] = s.sq[k - 1];
        }
        s.type[k] = types[i];
        s.sq[k] = flat[i] ^ v;
    }
    out.stm = side;
    out.ep = ep < 64 ? ep ^ v : TB_NO_EP;
    return true;
}

}  // namespace

void tb_init_index() {
    // Built once, by the first caller; a thread that comes meanwhile waits for it.
    static const bool built = (build_tables(), true);
    (void)built;
}

const char* tb_name(int t) { return t >= 1 && t <= TB_TABLES ? catalogue[t] : ""; }

int tb_number(const std::string& name) {
    for (int t = 1; t <= TB_TABLES; ++t)
        if (name == catalogue[t]) return t;
    return 0;
}

int tb_piece_count(int t) { return static_cast<int>(std::strlen(tb_name(t))); }

std::uint32_t tb_count(int t, int side) {
    if (t < 1 || t > TB_TABLES || side < 0 || side > 1) return 0;
    return tables.shape[t][side].count;
}

int tb_material(const int counts[2][6]) {
    const int a = side_code(counts[0]), b = side_code(counts[1]);
    if (a < 0 || b < 0) return 0;
    const int ia = tables.side_id[a], ib = tables.side_id[b];
    if (ia < 0 || ib < 0) return 0;
    return tables.material[ia][ib];
}

std::uint32_t tb_index(int t, int side, const TbSet& first, const TbSet& second, int ep, int exchanged) {
    if (t < 1 || t > TB_TABLES || side < 0 || side > 1) return TB_NO_INDEX;
    const Shape& sh = tables.shape[t][side];
    const TbSet& mover = side == 0 ? first : second;
    const TbSet& other = side == 0 ? second : first;
    if (mover.n < 1 || other.n < 1) return TB_NO_INDEX;
    const int v = (exchanged ^ side) ? 56 : 0;
    const int mk0 = mover.sq[0], ok0 = other.sq[0];
    if (mk0 < 0 || mk0 > 63 || ok0 < 0 || ok0 > 63) return TB_NO_INDEX;
    const int tr = normal_transform(sh.pawns, mk0 ^ v, ok0 ^ v);
    int flat[3];
    if (!flatten(sh, mover, other, tr, v, flat)) return TB_NO_INDEX;
    const int e = (ep >= 0 && ep < 64) ? apply_transform(tr, ep ^ v) : 64;
    const std::uint32_t index = index_normal(sh, apply_transform(tr, mk0 ^ v), apply_transform(tr, ok0 ^ v), flat, e);
    return index < sh.count ? index : TB_NO_INDEX;
}

std::uint32_t tb_board_index(int t, const TbBoard& b, bool canonical) {
    const int side = b.stm;
    const Shape& sh = tables.shape[t][side];
    const TbSet& mover = b.set[side];
    const TbSet& other = b.set[1 - side];
    const int v = side ? 56 : 0;
    const int tr = normal_transform(sh.pawns, mover.sq[0] ^ v, other.sq[0] ^ v);
    int flat[3];
    if (!flatten(sh, mover, other, tr, v, flat)) return TB_NO_INDEX;
    const int mk = apply_transform(tr, mover.sq[0] ^ v), ok = apply_transform(tr, other.sq[0] ^ v);
    const int e = b.ep < 64 ? apply_transform(tr, b.ep ^ v) : 64;
    std::uint32_t index = index_normal(sh, mk, ok, flat, e);
    if (canonical && !sh.pawns && reflect(mk) == mk && reflect(ok) == ok) {
        int mirrored[3];
        for (int i = 0; i < sh.n_mover + sh.n_other; ++i) mirrored[i] = reflect(flat[i]);
        index = std::min(index, index_normal(sh, mk, ok, mirrored, 64));
    }
    return index;
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> tb_twin_ranges(int t, int side) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
    if (t < 1 || t > TB_TABLES || side < 0 || side > 1) return out;
    const Shape& sh = tables.shape[t][side];
    for (int p = 0; p < PAIRS[sh.pawns]; ++p) {
        std::uint32_t first = sh.base[p], last = sh.base[p + 1];
        if (sh.pawns) {
            if (!sh.ep) continue;
            first += sh.regular[p];
        } else {
            const int mk = tables.pair_king[0][p][0], ok = tables.pair_king[0][p][1];
            if (reflect(mk) != mk || reflect(ok) != ok) continue;
        }
        last = std::min(last, sh.count);
        if (first < last) out.emplace_back(first, last);
    }
    return out;
}

bool tb_decode(int t, int side, std::uint32_t index, TbBoard& out) {
    if (t < 1 || t > TB_TABLES || side < 0 || side > 1) return false;
    return decode_board(tables.shape[t][side], side, index, -1, out);
}

// Per side and placement of the kings on the board (the side to move's king first): the
// map of board squares into the normal view, and the king pair there.
struct KingPlacement {
    std::int16_t pair = -1;
    std::uint8_t mask = 0;      // board square ^ mask, reflected when `reflected`, is the normal square
    bool reflected = false;
};

// Per king pair: the base offset, the weight of each group, and per group the rank of
// every normal square before the pieces counted earlier are taken off (NONE: the square
// is not open to the group). `diagonal`: both kings on the long diagonal, where a
// position and its mirror image share the smaller of their indices.
struct PairRanks {
    std::uint32_t base = 0;
    std::uint32_t stride[3] = {};
    bool diagonal = false;
    std::uint8_t rank[3][64];
};

struct TbIndexer::Data {
    struct Side {
        const Shape* sh = nullptr;
        KingPlacement placement[64 * 64];
        std::vector<PairRanks> pairs;
        // The pieces in flat order: where they are in the board's sets, their group.
        int n = 0;
        std::uint8_t other[3] = {}, slot[3] = {}, group[3] = {};
        std::uint8_t skip[3] = {};          // per piece: the earlier pieces whose squares it skips
        bool all_single = true;             // no group of identical pieces
        std::vector<std::uint16_t> hint;    // pair holding index (h << HINT_SHIFT)
    };
    static constexpr int HINT_SHIFT = 8;
    Side side[2];
};

namespace {

inline int normal_square(const KingPlacement& k, int s) {
    s ^= k.mask;
    return k.reflected ? reflect(s) : s;
}

void build_pair(const Shape& sh, int pair, PairRanks& pr) {
    const int mk = tables.pair_king[sh.pawns][pair][0], ok = tables.pair_king[sh.pawns][pair][1];
    pr.base = sh.base[pair];
    pr.diagonal = !sh.pawns && reflect(mk) == mk && reflect(ok) == ok;
    std::uint32_t stride = 1;
    for (int gi = sh.ngroups - 1; gi >= 0; --gi) {
        pr.stride[gi] = stride;
        stride *= group_radix(sh, sh.g[gi], pair);
    }
    for (int gi = 0; gi < sh.ngroups; ++gi) {
        const Group& g = sh.g[gi];
        for (int s = 0; s < 64; ++s) {
            int r = NONE;
            if (s != mk && s != ok) {
                switch (g.mode) {
                    case RESTRICTED:
                    case FIRST_PAWN: {
                        const int ka = g.mode == RESTRICTED ? ok : mk, kb = g.mode == RESTRICTED ? mk : ok;
                        r = tables.rank[g.letter][ka][s];
                        if (r != NONE && kb < s && tables.rank[g.letter][ka][kb] != NONE) --r;
                        break;
                    }
                    case SKIP: r = s - (mk < s) - (ok < s); break;
                    default: r = s < 8 || s > 55 ? NONE : s - 8; break;
                }
            }
            pr.rank[gi][s] = static_cast<std::uint8_t>(r);
        }
    }
}

// pair_index for N pieces that are all of different groups.
template <int N>
[[gnu::always_inline]] inline std::uint32_t single_pieces_index(const TbIndexer::Data::Side& ds, const PairRanks& pr, const int* normal) {
    std::uint32_t index = pr.base;
    bool bad = false;
    for (int f = 0; f < N; ++f) {
        int v = pr.rank[f][normal[f]];
        bad |= v == NONE;
        for (int e = 0; e < f; ++e)
            if (ds.skip[f] >> e & 1) {
                bad |= normal[e] == normal[f];
                v -= normal[e] < normal[f];
            }
        index += static_cast<std::uint32_t>(v) * pr.stride[f];
    }
    return bad ? TB_NO_INDEX : index;
}

// The index of the pieces on normal squares `normal` (flat order) with the king pair of
// `pr`, as index_normal gives it for positions without an en-passant right.
[[gnu::always_inline]] inline std::uint32_t pair_index(const TbIndexer::Data::Side& ds, const PairRanks& pr, const int* normal) {
    if (ds.all_single) {
        switch (ds.n) {
            case 1: return single_pieces_index<1>(ds, pr, normal);
            case 2: return single_pieces_index<2>(ds, pr, normal);
            default: return single_pieces_index<3>(ds, pr, normal);
        }
    }
    const Shape& sh = *ds.sh;
    int r[3];
    for (int f = 0; f < ds.n; ++f) {
        const int gi = ds.group[f];
        int v = pr.rank[gi][normal[f]];
        if (v == NONE) return TB_NO_INDEX;
        const Group& g = sh.g[gi];
        if (g.mode == SKIP || g.mode == PAWN_SKIP) {
            // Squares of the pieces counted before are not open to this one.
            for (int e = 0; e < g.flat; ++e) {
                if (g.mode == PAWN_SKIP && sh.flat_type[e] != PAWN_T) continue;
                if (normal[e] == normal[f]) return TB_NO_INDEX;
                v -= normal[e] < normal[f];
            }
        }
        r[f] = v;
    }
    std::uint32_t index = pr.base;
    for (int gi = 0; gi < sh.ngroups; ++gi) {
        const Group& g = sh.g[gi];
        int* x = r + g.flat;
        for (int a = 1; a < g.count; ++a)
            for (int c = a; c > 0 && x[c] < x[c - 1]; --c) std::swap(x[c], x[c - 1]);
        std::uint32_t combo = 0;
        for (int q = 0; q < g.count; ++q) {
            if (q > 0 && x[q] == x[q - 1]) return TB_NO_INDEX;
            combo += tables.binom[x[q]][q + 1];
        }
        index += combo * pr.stride[gi];
    }
    return index;
}

}  // namespace

TbIndexer::TbIndexer(int t) : t_(t), d_(std::make_unique<Data>()) {
    tb_init_index();
    for (int side = 0; side < 2; ++side) {
        Data::Side& ds = d_->side[side];
        const Shape& sh = tables.shape[t][side];
        ds.sh = &sh;
        ds.n = sh.n_mover + sh.n_other;
        for (int gi = 0; gi < sh.ngroups; ++gi) {
            const Group& g = sh.g[gi];
            ds.all_single = ds.all_single && g.count == 1;
            for (int q = 0; q < g.count; ++q) {
                const int f = g.flat + q;
                ds.group[f] = static_cast<std::uint8_t>(gi);
                ds.other[f] = !g.mover;
                ds.slot[f] = static_cast<std::uint8_t>(1 + (g.mover ? f : f - sh.n_mover));
                if (g.mode == SKIP || g.mode == PAWN_SKIP)
                    for (int e = 0; e < g.flat; ++e)
                        if (g.mode == SKIP || sh.flat_type[e] == PAWN_T) ds.skip[f] |= static_cast<std::uint8_t>(1 << e);
            }
        }
        const int v = side ? 56 : 0;
        for (int mk = 0; mk < 64; ++mk)
            for (int ok = 0; ok < 64; ++ok) {
                KingPlacement& k = ds.placement[mk * 64 + ok];
                const int tr = normal_transform(sh.pawns, mk ^ v, ok ^ v);
                k.mask = static_cast<std::uint8_t>(v ^ (tr & 63));
                k.reflected = (tr & 64) != 0;
                k.pair = tables.pair[sh.pawns][normal_square(k, mk)][normal_square(k, ok)];
            }
        const int pairs = PAIRS[sh.pawns];
        ds.pairs.resize(static_cast<std::size_t>(pairs));
        for (int p = 0; p < pairs; ++p) build_pair(sh, p, ds.pairs[static_cast<std::size_t>(p)]);
        const std::uint32_t end = sh.base[pairs];
        ds.hint.resize((end >> Data::HINT_SHIFT) + 1);
        int pair = 0;
        for (std::size_t h = 0; h < ds.hint.size(); ++h) {
            const std::uint32_t first = static_cast<std::uint32_t>(h << Data::HINT_SHIFT);
            while (pair + 1 < pairs && sh.base[pair + 1] <= first) ++pair;
            ds.hint[h] = static_cast<std::uint16_t>(pair);
        }
    }
}

TbIndexer::~TbIndexer() = default;

std::uint32_t TbIndexer::index(const TbBoard& b, bool exchanged) const {
    // With the colours exchanged every square is mirrored in the middle rank and the
    // other side is to move in the table's view.
    const int flip = exchanged ? 56 : 0;
    const int side = b.stm ^ exchanged;
    const TbSet& mover = b.set[b.stm];
    const TbSet& other = b.set[1 - b.stm];
    const Data::Side& ds = d_->side[side];
    const Shape& sh = *ds.sh;
    const KingPlacement& k = ds.placement[(mover.sq[0] ^ flip) * 64 + (other.sq[0] ^ flip)];
    if (k.pair < 0) return TB_NO_INDEX;
    if ((sh.ep && b.ep != TB_NO_EP) || mover.n != sh.n_mover + 1 || other.n != sh.n_other + 1) {
        if (!exchanged) return tb_board_index(t_, b, true);
        TbBoard m;
        m.stm = side;
        m.ep = b.ep == TB_NO_EP ? TB_NO_EP : b.ep ^ 56;
        for (int c = 0; c < 2; ++c) {
            m.set[c] = b.set[1 - c];
            for (int i = 0; i < m.set[c].n; ++i) m.set[c].sq[i] ^= 56;
        }
        return tb_board_index(t_, m, true);
    }
    int normal[3];
    for (int f = 0; f < ds.n; ++f) normal[f] = normal_square(k, (ds.other[f] ? other : mover).sq[ds.slot[f]] ^ flip);
    const PairRanks& pr = ds.pairs[static_cast<std::size_t>(k.pair)];
    const std::uint32_t index = pair_index(ds, pr, normal);
    if (!pr.diagonal) return index;
    int mirrored[3];
    for (int f = 0; f < ds.n; ++f) mirrored[f] = reflect(normal[f]);
    return std::min(index, pair_index(ds, pr, mirrored));
}

bool TbIndexer::decode(int side, std::uint32_t index, TbBoard& out) const {
    const Data::Side& ds = d_->side[side];
    const Shape& sh = *ds.sh;
    const std::size_t h = index >> Data::HINT_SHIFT;
    if (h >= ds.hint.size()) return false;
    int pair = ds.hint[h];
    const int pairs = PAIRS[sh.pawns];
    while (pair + 1 < pairs && sh.base[pair + 1] <= index) ++pair;
    return decode_board(sh, side, index, pair, out);
}

namespace {

inline std::uint32_t combination(int* r, int n) {
    for (int a = 1; a < n; ++a)
        for (int c = a; c > 0 && r[c] < r[c - 1]; --c) std::swap(r[c], r[c - 1]);
    std::uint32_t combo = 0;
    for (int q = 0; q < n; ++q) combo += tables.binom[r[q]][q + 1];
    return combo;
}

}  // namespace

void TbIndexer::prepare(const TbBoard& b, int side, int colour, int slot, PieceMoves& m) const {
    m.quick = false;
    const Data::Side& ds = d_->side[side];
    const Shape& sh = *ds.sh;
    const KingPlacement& k = ds.placement[b.set[side].sq[0] * 64 + b.set[1 - side].sq[0]];
    if (k.pair < 0 || slot == 0 || sh.ep || b.set[side].n != sh.n_mover + 1 || b.set[1 - side].n != sh.n_other + 1) return;
    const PairRanks& pr = ds.pairs[static_cast<std::size_t>(k.pair)];
    if (pr.diagonal) return;
    m.mask = k.mask;
    m.reflected = k.reflected;
    // The moving piece in flat order, and every piece's normal square.
    int normal[3], moving = -1;
    for (int f = 0; f < ds.n; ++f) {
        const int c = side ^ ds.other[f];
        normal[f] = normal_square(k, b.set[c].sq[ds.slot[f]]);
        if (c == colour && ds.slot[f] == slot) moving = f;
    }
    if (moving < 0) return;
    const int gm = ds.group[moving];
    const Group& g = sh.g[gm];
    const bool pawn = sh.flat_type[moving] == PAWN_T;
    m.rank = pr.rank[gm];
    m.stride = pr.stride[gm];
    m.n_below = 0;
    if (g.mode == SKIP || g.mode == PAWN_SKIP)
        for (int e = 0; e < g.flat; ++e)
            if (g.mode == SKIP || sh.flat_type[e] == PAWN_T) m.below[m.n_below++] = normal[e];
    m.n_mates = 0;
    m.n_later = 0;
    m.rest = pr.base;
    for (int gi = 0; gi < sh.ngroups; ++gi) {
        const Group& h = sh.g[gi];
        const bool depends = gi > gm && (h.mode == SKIP || (h.mode == PAWN_SKIP && pawn));
        int r[3];
        for (int q = 0; q < h.count; ++q) {
            const int f = h.flat + q;
            int v = pr.rank[gi][normal[f]];
            if (v == NONE) return;
            if (h.mode == SKIP || h.mode == PAWN_SKIP)
                for (int e = 0; e < h.flat; ++e)
                    if (e != moving && (h.mode == SKIP || sh.flat_type[e] == PAWN_T)) v -= normal[e] < normal[f];
            r[q] = v;
        }
        if (gi == gm) {
            for (int q = 0; q < h.count; ++q)
                if (h.flat + q != moving) m.mates[m.n_mates++] = r[q];
        } else if (depends) {
            PieceMoves::Later& l = m.later[m.n_later++];
            l.stride = pr.stride[gi];
            l.count = h.count;
            for (int q = 0; q < h.count; ++q) {
                l.base[q] = r[q];
                l.square[q] = normal[h.flat + q];
            }
        } else {
            m.rest += combination(r, h.count) * pr.stride[gi];
        }
    }
    m.quick = true;
}

std::uint32_t TbIndexer::PieceMoves::at(int square) const {
    int s = square ^ mask;
    if (reflected) s = reflect(s);
    int r = rank[s];
    if (r == NONE) return TB_NO_INDEX;
    for (int e = 0; e < n_below; ++e) r -= below[e] < s;
    std::uint32_t index = rest;
    if (n_mates == 0) {
        index += static_cast<std::uint32_t>(r) * stride;
    } else {
        int x[3] = {r, mates[0], mates[1]};
        index += combination(x, n_mates + 1) * stride;
    }
    for (int k = 0; k < n_later; ++k) {
        const Later& l = later[k];
        int x[3];
        for (int q = 0; q < l.count; ++q) x[q] = l.base[q] - (s < l.square[q]);
        index += (l.count == 1 ? static_cast<std::uint32_t>(x[0]) : combination(x, l.count)) * l.stride;
    }
    return index;
}

const TbBoard* TbIndexer::decode(Cursor& c, int side, std::uint32_t index) const {
    const Data::Side& ds = d_->side[side];
    const Shape& sh = *ds.sh;
    if (c.side == side && index >= c.first && index < c.last) {
        if (c.listed) {
            c.board.set[c.set].sq[c.slots[0]] = c.squares[index - c.first] ^ c.v;
            return &c.board;
        }
        const Group& g = sh.g[c.group];
        int squares[3];
        group_squares(g, index - c.first, c.mk, c.ok, c.skip, c.n_skip, c.pawns, c.n_pawns, squares);
        for (int q = 0; q < g.count; ++q) c.board.set[c.set].sq[c.slots[q]] = squares[q] ^ c.v;
        return &c.board;
    }
    c.side = -1;
    const std::size_t h = index >> Data::HINT_SHIFT;
    if (h >= ds.hint.size()) return nullptr;
    int pair = ds.hint[h];
    const int pairs = PAIRS[sh.pawns];
    while (pair + 1 < pairs && sh.base[pair + 1] <= index) ++pair;
    TbBoard& out = c.board;
    if (!decode_board(sh, side, index, pair, out)) return nullptr;
    const std::uint32_t off = index - sh.base[pair];
    if (sh.ngroups == 0 || off >= sh.regular[pair]) return &out;
    // Keep what the last group's squares depend on.
    c.group = sh.ngroups - 1;
    const Group& g = sh.g[c.group];
    const std::uint32_t radix = group_radix(sh, g, pair);
    c.first = index - off % radix;
    c.last = c.first + radix;
    c.v = side ? 56 : 0;
    c.mk = tables.pair_king[sh.pawns][pair][0];
    c.ok = tables.pair_king[sh.pawns][pair][1];
    c.set = g.mover ? side : 1 - side;
    int k = 0;
    const TbSet& set = out.set[c.set];
    for (int i = 1; i < set.n && k < g.count; ++i)
        if (set.type[i] == g.type) c.slots[k++] = i;
    c.n_skip = 0;
    c.n_pawns = 0;
    insert_sorted(c.skip, c.n_skip, c.mk);
    insert_sorted(c.skip, c.n_skip, c.ok);
    for (int s2 = 0; s2 < 2; ++s2)
        for (int i = 1; i < out.set[s2].n; ++i) {
            if (s2 == c.set && out.set[s2].type[i] == g.type) continue;
            const int normal = out.set[s2].sq[i] ^ c.v;
            insert_sorted(c.skip, c.n_skip, normal);
            if (out.set[s2].type[i] == PAWN_T) insert_sorted(c.pawns, c.n_pawns, normal);
        }
    // A single piece takes the open squares in their order.
    c.listed = g.count == 1;
    if (c.listed) {
        const PairRanks& pr = ds.pairs[static_cast<std::size_t>(pair)];
        std::uint64_t taken = 0;
        for (int s2 = 0; s2 < 2; ++s2)
            for (int i = 1; i < out.set[s2].n; ++i)
                if (!(s2 == c.set && out.set[s2].type[i] == g.type) && (g.mode == SKIP || out.set[s2].type[i] == PAWN_T))
                    taken |= 1ULL << (out.set[s2].sq[i] ^ c.v);
        if (g.mode != SKIP && g.mode != PAWN_SKIP) taken = 0;
        int n = 0;
        for (int s2 = 0; s2 < 64; ++s2) {
            // Pawns counted after others skip the earlier pawns' squares only (a pawn on a
            // king's square makes an index of no position).
            const bool open = g.mode == PAWN_SKIP ? s2 >= 8 && s2 < 56 : pr.rank[c.group][s2] != NONE;
            if (open && !(taken >> s2 & 1)) c.squares[n++] = static_cast<std::uint8_t>(s2);
        }
        c.listed = static_cast<std::uint32_t>(n) == radix;
    }
    c.side = side;
    return &out;
}

}  // namespace varkon
