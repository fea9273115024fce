// The lane executor's thread group: every step of a program run over a batch of lanes at once. Included by one
// file per instruction set (lane_group_*.cpp), each of which defines CORVO_LANE_GROUP_TARGET (the attributes of
// `Group::execute`, where all the per-lane loops are inlined) first: everything here has internal linkage, so
// no code built for one instruction set is ever linked into another's place.
#pragma once

#include <climits>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "platform/emulated/shader_lanes.h"

#ifndef CORVO_LANE_GROUP_TARGET
#error "define CORVO_LANE_GROUP_TARGET before including lane_group.h"
#endif

namespace corvo::emu::shader {
namespace {

// The loops below write rows that none of their inputs share (`__restrict`), so the compiler vectorises them
// without alias checks: a result goes to a register row that no source of its step reads, or else to a scratch
// row that is copied over once every source was read.
template <class F, class... Rows>
void each(uint32_t lo, uint32_t hi, uint32_t *__restrict out, F f, const Rows *...in) {
    for (uint32_t l = lo; l < hi; ++l) out[l] = f(in[l]...);
}

// The same in the lanes of `mask`: the others keep what `out` held.
template <class F, class... Rows>
void each_masked(uint32_t lo, uint32_t hi, uint32_t *__restrict out, const uint32_t *__restrict mask, F f,
                 const Rows *...in) {
    for (uint32_t l = lo; l < hi; ++l) out[l] = (f(in[l]...) & mask[l]) | (out[l] & ~mask[l]);
}

template <class F>
void each_pair(uint32_t lo, uint32_t hi, uint32_t *__restrict first, uint32_t *__restrict second, F f,
               const uint32_t *a, const uint32_t *b) {
    for (uint32_t l = lo; l < hi; ++l) f(a[l], b[l], first[l], second[l]);
}

void copy_lanes(uint32_t lo, uint32_t hi, uint32_t *__restrict to, const uint32_t *__restrict from) {
    for (uint32_t l = lo; l < hi; ++l) to[l] = from[l];
}

void blend_lanes(uint32_t lo, uint32_t hi, uint32_t *__restrict to, const uint32_t *__restrict from,
                 const uint32_t *__restrict mask) {
    for (uint32_t l = lo; l < hi; ++l) to[l] = (from[l] & mask[l]) | (to[l] & ~mask[l]);
}

void clear_lanes(uint32_t lo, uint32_t hi, uint32_t *__restrict rows, const uint32_t *__restrict gone) {
    for (uint32_t l = lo; l < hi; ++l) rows[l] &= ~gone[l];
}

void add_lanes(uint32_t lo, uint32_t hi, uint32_t *__restrict rows, const uint32_t *__restrict gone) {
    for (uint32_t l = lo; l < hi; ++l) rows[l] |= gone[l];
}

uint32_t mask_of(bool b) { return b ? ~0u : 0u; }

// The lanes of `active` whose `x` is non-zero (or zero); tells whether there is any.
bool select_lanes(uint32_t lo, uint32_t hi, uint32_t *__restrict out, const uint32_t *__restrict active,
                  const uint32_t *__restrict x, bool nonzero) {
    const uint32_t want = mask_of(nonzero);
    uint32_t any = 0;
    for (uint32_t l = lo; l < hi; ++l) {
        out[l] = active[l] & (mask_of(x[l] != 0) ^ ~want);
        any |= out[l];
    }
    return any != 0;
}

// Per-lane forms of the operations whose scalar forms branch. Each gives the bits of dispatch_reference's
// form for every input, NaN and infinities included, without branches.
constexpr uint32_t kTwo23 = 0x4b000000u;  // 2^23: floats at least this large are integers already

enum class Round { kNearestEven, kDown, kUp, kZero };

// Written with masks rather than selects, which keeps the loops over it free of branches, so they vectorise.
template <Round R>
uint32_t round_lane(uint32_t x) {
    const uint32_t small = mask_of((x & kMagnitude) < kTwo23);
    const float f = as_float(x & small);
    float t;
    if constexpr (R == Round::kNearestEven) {
        t = (std::fabs(f) + 8388608.0f) - 8388608.0f;
    } else {
        t = float(int32_t(f));
        constexpr uint32_t kOne = 0x3f800000u;  // 1.0f; adding or taking away 0 instead leaves t as it is
        if constexpr (R == Round::kDown) t = t - as_float(kOne & mask_of(t > f));
        if constexpr (R == Round::kUp) t = t + as_float(kOne & mask_of(t < f));
    }
    // The rounded value keeps the sign of its input, zero included (ceil(-0.5) is -0). Large values, infinities
    // and NaN come back as they are.
    const uint32_t rounded = (as_bits(t) & kMagnitude) | (x & kSign);
    return (rounded & small) | (x & ~small);
}

uint32_t ftou_lane(uint32_t x) {
    const float f = as_float(x);
    float c = f > 0.0f ? f : 0.0f;  // negatives and NaN give 0
    c = c < 4294967040.0f ? c : 4294967040.0f;
    const bool high = c >= 2147483648.0f;
    const uint32_t v = uint32_t(int32_t(high ? c - 2147483648.0f : c)) + (high ? kSign : 0u);
    return f >= 4294967296.0f ? ~0u : v;
}

uint32_t ftoi_lane(uint32_t x) {
    const float f = as_float(x);
    float c = f == f ? f : 0.0f;  // NaN gives 0
    c = c > -2147483648.0f ? c : -2147483648.0f;
    c = c < 2147483520.0f ? c : 2147483520.0f;
    return f >= 2147483648.0f ? 0x7fffffffu : uint32_t(int32_t(c));
}

// canonical(as_bits(f)): a float is NaN exactly when it is unordered with itself, which one compare tells.
uint32_t canonical_lane(float f) { return f != f ? kNaN : as_bits(f); }

uint32_t saturate_lane(uint32_t x) {
    const float f = as_float(x);
    return as_bits(f > 0.0f ? (f < 1.0f ? f : 1.0f) : 0.0f);
}

using Decoder = LaneDecoder;

// Computes a row of results where a result may go to a row that a source of the same component reads. Each lane
// reads only its own lanes of the rows, so no lane depends on another one: vectorising the loop (`ivdep`)
// reads each vector of lanes before it writes them.
template <class F, class... Rows>
void chunks(uint32_t lo, uint32_t hi, uint32_t *out, F f, const Rows *...in) {
#pragma GCC ivdep
    for (uint32_t l = lo; l < hi; ++l) out[l] = f(in[l]...);
}

template <class F, class... Rows>
void chunks_masked(uint32_t lo, uint32_t hi, uint32_t *out, const uint32_t *mask, F f, const Rows *...in) {
#pragma GCC ivdep
    for (uint32_t l = lo; l < hi; ++l) out[l] = (f(in[l]...) & mask[l]) | (out[l] & ~mask[l]);
}

// The bits of each lane's 4-byte texel at (x, y), 0 outside the view or, when `kMip`, at another mip than 0 (the
// only one bound). A scalar loop, kept out of line so that it has the registers to itself.
template <bool kMip>
__attribute__((noinline)) void fetch_texels(uint32_t lo, uint32_t hi, uint32_t *__restrict raw, const uint32_t *x,
                                            const uint32_t *y, const uint32_t *mip, const uint8_t *data,
                                            size_t pitch, uint32_t w, uint32_t h) {
    for (uint32_t l = lo; l < hi; ++l) {
        const uint32_t px = x[l], py = y[l];
        uint32_t bits = 0;
        if (px < w && py < h && (!kMip || mip[l] == 0)) std::memcpy(&bits, data + py * pitch + size_t(px) * 4, 4);
        raw[l] = bits;
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
// The same with AVX2 gathers, 8 lanes an instruction, for views where every texel lies within 2^31 bytes of the
// first. `lo` and `hi` are multiples of 8.
template <bool kMip>
__attribute__((target("avx2"), noinline)) void gather_texels(
    uint32_t lo, uint32_t hi, uint32_t *__restrict raw, const uint32_t *x, const uint32_t *y, const uint32_t *mip,
    const uint8_t *data, size_t pitch, uint32_t w, uint32_t h) {
    const __m256i bias = _mm256_set1_epi32(int32_t(kSign));  // unsigned compares as signed ones
    const __m256i width = _mm256_set1_epi32(int32_t(w ^ kSign)), height = _mm256_set1_epi32(int32_t(h ^ kSign));
    const __m256i row = _mm256_set1_epi32(int32_t(pitch));
    for (uint32_t l = lo; l < hi; l += 8) {
        const __m256i px = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(x + l));
        const __m256i py = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(y + l));
        __m256i found = _mm256_and_si256(_mm256_cmpgt_epi32(width, _mm256_xor_si256(px, bias)),
                                         _mm256_cmpgt_epi32(height, _mm256_xor_si256(py, bias)));
        if constexpr (kMip) {
            const __m256i level = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(mip + l));
            found = _mm256_and_si256(found, _mm256_cmpeq_epi32(level, _mm256_setzero_si256()));
        }
        // Lanes outside the view are masked off: their offsets, which may have wrapped, are never read.
        const __m256i offset = _mm256_add_epi32(_mm256_mullo_epi32(py, row), _mm256_slli_epi32(px, 2));
        const __m256i bits = _mm256_mask_i32gather_epi32(_mm256_setzero_si256(), reinterpret_cast<const int *>(data),
                                                         offset, found, 1);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(raw + l), bits);
    }
}

bool has_avx2() {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}
#endif

// Picks the gathers where the machine and the view allow them.
template <bool kMip>
void load_texels(uint32_t lo, uint32_t hi, uint32_t *__restrict raw, const uint32_t *x, const uint32_t *y,
                 const uint32_t *mip, const uint8_t *data, size_t pitch, uint32_t w, uint32_t h) {
#if defined(__x86_64__) && defined(__GNUC__)
    if (has_avx2() && data && uint64_t(h) * pitch <= uint64_t(INT32_MAX)) {
        gather_texels<kMip>(lo, hi, raw, x, y, mip, data, pitch, w, h);
        return;
    }
#endif
    fetch_texels<kMip>(lo, hi, raw, x, y, mip, data, pitch, w, h);
}

// float(v) / 255 for a byte v, as kUnorm8 holds it, by a multiplication in double precision, which vectorises
// where a table does not and costs less than the division. It gives the division's bits for every byte:
constexpr bool unorm8_multiplies_exactly() {
    for (uint32_t v = 0; v < 256; ++v)
        if (std::bit_cast<uint32_t>(float(double(v) * (1.0 / 255.0))) != std::bit_cast<uint32_t>(float(v) / 255.0f))
            return false;
    return true;
}
static_assert(unorm8_multiplies_exactly());

inline uint32_t unorm8(uint32_t byte) { return as_bits(float(double(int32_t(byte)) * (1.0 / 255.0))); }

enum class Leave { kBreak, kContinue, kReturn };

// Runs one thread group over a prepared file.
class Group {
public:
    Group(LaneFile &file, const LaneDispatch &dispatch)
        : f_(file), d_(dispatch), p_(dispatch.program), stride_(file.stride) {}

    // The group's threads run a batch of `stride_` lanes at a time, each batch through the whole program: the
    // threads of a group share nothing that one could see the other write, so any order of them is an order
    // the reference could have taken, and a batch's registers stay in the first-level cache.
    void run(const uint32_t group[3]) {
        const uint32_t *size = p_.group;
        const uint32_t lanes = size[0] * size[1] * size[2];
        for (int axis = 0; axis < 3; ++axis) std::fill_n(row(p_.system_base + kGroupId, axis), stride_, group[axis]);
        for (uint32_t first = 0; first < lanes; first += stride_) {
            std::fill_n(f_.registers.data(), size_t(p_.temps) * 4 * stride_, 0u);  // temps start at zero
            uint32_t *in_group[3] = {row(p_.system_base + kThreadInGroup, 0),
                                     row(p_.system_base + kThreadInGroup, 1),
                                     row(p_.system_base + kThreadInGroup, 2)};
            uint32_t *flattened = row(p_.system_base + kFlattened, 0);
            for (uint32_t lane = 0; lane < stride_; ++lane) {
                const uint32_t t = first + lane < lanes ? first + lane : 0;
                in_group[0][lane] = t % size[0];
                in_group[1][lane] = t / size[0] % size[1];
                in_group[2][lane] = t / size[0] / size[1];
                flattened[lane] = t;
                exec()[lane] = live()[lane] = mask_of(first + lane < lanes);
            }
            for (int axis = 0; axis < 3; ++axis) {
                const uint32_t base = group[axis] * size[axis];
                each(
                    0, stride_, row(p_.system_base + kThreadId, axis), [base](uint32_t t) { return base + t; },
                    row(p_.system_base + kThreadInGroup, axis));
            }
            lo_ = 0;
            hi_ = std::min(stride_, (lanes - first + kChunk - 1) / kChunk * kChunk);
            all_live_ = true;
            depth_ = 0;
            execute();
        }
    }

private:
    uint32_t *row(uint32_t slot, uint32_t component) {
        return f_.registers.data() + (size_t(slot) * 4 + component) * stride_;
    }
    uint32_t *scratch(size_t index) { return f_.scratch.data() + index * stride_; }
    uint32_t *exec() { return f_.masks.data(); }
    uint32_t *live() { return f_.masks.data() + stride_; }
    uint32_t *saved(size_t frame) { return f_.masks.data() + (2 + 2 * frame) * stride_; }
    uint32_t *other(size_t frame) { return f_.masks.data() + (3 + 2 * frame) * stride_; }

    // Moves the results in scratch rows `from`.. to the rows of `dst`, in the active lanes. Lanes that returned
    // are never read again, so when every other lane is active the rows are copied whole.
    void write(uint32_t *const dst[4], size_t from) {
        for (uint32_t c = 0; c < 4; ++c) {
            if (!dst[c]) continue;
            if (all_live_) {
                copy_lanes(lo_, hi_, dst[c], scratch(from + c));
            } else {
                blend_lanes(lo_, hi_, dst[c], scratch(from + c), exec());
            }
        }
    }

    // One result per lane from N sources.
    template <int N, class F>
    void alu(const LanePlan &pl, F f) {
        if (pl.modified) {
            const LaneModifier a = pl.modifier[0], b = pl.modifier[1], d = pl.modifier[2];
            if constexpr (N == 1) components<N>(pl, [f, a](uint32_t x) { return f(a(x)); });
            if constexpr (N == 2) components<N>(pl, [f, a, b](uint32_t x, uint32_t y) { return f(a(x), b(y)); });
            if constexpr (N == 3)
                components<N>(pl, [f, a, b, d](uint32_t x, uint32_t y, uint32_t z) { return f(a(x), b(y), d(z)); });
        } else {
            components<N>(pl, f);
        }
    }

    // Computes each written component from its sources, in place a chunk at a time; when a component's result
    // would overwrite what a later component reads, the results are staged in scratch rows first.
    template <int N, class F>
    void components(const LanePlan &pl, F f) {
        const auto &src = pl.src;
        for (int c = 0; c < 4; ++c) {
            uint32_t *out = pl.dst[0][c];
            if (!out) continue;
            if (pl.staged) {
                out = scratch(kResult + size_t(c));
                if constexpr (N == 1) each(lo_, hi_, out, f, src[0][c]);
                if constexpr (N == 2) each(lo_, hi_, out, f, src[0][c], src[1][c]);
                if constexpr (N == 3) each(lo_, hi_, out, f, src[0][c], src[1][c], src[2][c]);
            } else if (all_live_) {
                if constexpr (N == 1) chunks(lo_, hi_, out, f, src[0][c]);
                if constexpr (N == 2) chunks(lo_, hi_, out, f, src[0][c], src[1][c]);
                if constexpr (N == 3) chunks(lo_, hi_, out, f, src[0][c], src[1][c], src[2][c]);
            } else {
                if constexpr (N == 1) chunks_masked(lo_, hi_, out, exec(), f, src[0][c]);
                if constexpr (N == 2) chunks_masked(lo_, hi_, out, exec(), f, src[0][c], src[1][c]);
                if constexpr (N == 3) chunks_masked(lo_, hi_, out, exec(), f, src[0][c], src[1][c], src[2][c]);
            }
        }
        if (pl.staged) write(pl.dst[0], kResult);
    }

    template <int N, class F>
    void float_alu(const Step &s, const LanePlan &pl, F f) {
        if (!s.flag) {
            alu<N>(pl, f);
            return;
        }
        alu<N>(pl, [f](auto... v) { return saturate_lane(f(v...)); });
    }

    // imul and udiv: two results per lane, written to dst[0] and then dst[1].
    template <class F>
    void alu_pair(const LanePlan &pl, F f) {
        const uint32_t *const *a = pl.src[0], *const *b = pl.src[1];
        const LaneModifier ma = pl.modifier[0], mb = pl.modifier[1];
        const auto g = [&](uint32_t x, uint32_t y, uint32_t &first, uint32_t &second) {
            f(ma(x), mb(y), first, second);
        };
        for (int c = 0; c < 4; ++c)
            if (pl.dst[0][c] || pl.dst[1][c])
                each_pair(lo_, hi_, scratch(kResult + size_t(c)), scratch(kSecond + size_t(c)), g, a[c], b[c]);
        write(pl.dst[0], kResult);
        write(pl.dst[1], kSecond);
    }

    // ld and ld_uav_typed: each lane's texel is read and decoded into the written components in one pass. A
    // lane's address is read before its results are written, so they may share rows.
    template <bool kAllLive>
    void load_texture(const Step &s, const LanePlan &pl) {
        const bool uav = s.op == StepOp::kLdUavTyped;
        const Bound &view = *pl.view;
        const uint32_t *x = pl.src[0][0], *y = pl.src[0][1], *mip = pl.src[0][3];
        const uint32_t w = view.width, h = view.height;  // 0 when unbound
        const uint8_t *data = view.data;
        const size_t pitch = view.pitch, size = view.texel_size;
        const uint32_t *m = exec();
        uint32_t *out[4];
        for (uint32_t c = 0; c < 4; ++c) out[c] = pl.dst[0][c] ? pl.dst[0][c] : scratch(kTexel + c % 2);
        const auto put = [&](uint32_t l, uint32_t c, uint32_t v) {
            if constexpr (kAllLive) {
                out[c][l] = v;
            } else {
                out[c][l] = m[l] ? v : out[c][l];
            }
        };
        if (pl.unorm) {  // four bytes a texel, each written component a byte of it as a float
            // The texels' bits first, a lane at a time; then each component decoded a vector of lanes at a time.
            // (Prefetching the texel below, which a scan down a column loads next, measured no faster.)
            uint32_t *raw = scratch(kTexel + 1);
            if (uav) {
                load_texels<false>(lo_, hi_, raw, x, y, mip, data, pitch, w, h);
            } else {
                load_texels<true>(lo_, hi_, raw, x, y, mip, data, pitch, w, h);
            }
            for (uint32_t c = 0; c < 4; ++c) {
                if (!pl.dst[0][c]) continue;
                const uint32_t shift = pl.decoder[c].shift;
                const auto decode = [shift](uint32_t v) { return unorm8((v >> shift) & 0xff); };
                if constexpr (kAllLive) {
                    each(lo_, hi_, pl.dst[0][c], decode, raw);
                } else {
                    each_masked(lo_, hi_, pl.dst[0][c], m, decode, raw);
                }
            }
            return;
        }
        for (uint32_t l = lo_, end = hi_; l < end; ++l) {
            const uint32_t px = x[l], py = y[l];
            const bool found = px < w && py < h && (uav || mip[l] == 0);
            uint64_t raw = 0;  // little-endian texel bytes: the component decoders shift into it
            if (found) {
                const uint8_t *p = data + py * pitch + size_t(px) * size;
                if (size == 4) {
                    uint32_t word;
                    std::memcpy(&word, p, 4);
                    raw = word;
                } else if (size == 8) {
                    std::memcpy(&raw, p, 8);
                } else {
                    raw = p[0];
                }
            }
            for (uint32_t c = 0; c < 4; ++c) {
                const Decoder dec = pl.decoder[c];
                uint32_t v = 0;
                switch (dec.kind) {
                case Decoder::kUnorm:
                    v = kUnorm8[(raw >> dec.shift) & 0xff];
                    break;
                case Decoder::kRaw:
                    v = uint32_t(raw);
                    break;
                case Decoder::kHalf:
                    v = half_to_float_bits(uint16_t(raw >> dec.shift));
                    break;
                case Decoder::kOne:
                    v = uint32_t(found);
                    break;
                case Decoder::kZero:
                    break;
                }
                put(l, c, v);
            }
        }
    }

    void store_texture(const LanePlan &pl) {
        const Bound &view = *pl.view;
        const uint32_t *const *address = pl.src[0], *const *value = pl.src[1];
        const uint32_t *m = exec();
        for (uint32_t l = lo_; l < hi_; ++l) {
            if (!m[l]) continue;
            const Vec texel = {value[0][l], value[1][l], value[2][l], value[3][l]};
            store_texel(view, address[0][l], address[1][l], texel);
        }
    }

    void load_structured(const Step &s, const LanePlan &pl) {
        const Bound &view = *pl.view;
        const uint32_t *index = pl.src[0][0], *offset = pl.src[1][0];
        for (uint32_t c = 0; c < 4; ++c) {
            if (!pl.dst[0][c]) continue;
            uint32_t *out = scratch(kResult + c);
            const uint32_t at = 4u * s.src[2].swizzle[c];
            for (uint32_t l = lo_; l < hi_; ++l) {
                const uint8_t *word = element_word(view, index[l], offset[l] + at);
                out[l] = 0;
                if (word) std::memcpy(&out[l], word, 4);
            }
        }
        write(pl.dst[0], kResult);
    }

    void store_structured(const Step &s, const LanePlan &pl) {
        const Bound &view = *pl.view;
        const uint32_t *index = pl.src[0][0], *offset = pl.src[1][0], *const *value = pl.src[2];
        const uint32_t *m = exec();
        for (uint32_t l = lo_; l < hi_; ++l) {
            if (!m[l]) continue;
            for (uint32_t c = 0; c < 4; ++c) {
                if (!(s.dst[0].mask & (1u << c))) continue;
                if (uint8_t *word = element_word(view, index[l], offset[l] + 4u * c))
                    std::memcpy(word, &value[c][l], 4);
            }
        }
    }

    // Narrows [lo_, hi_) to the chunks of [from, to) that hold an active lane (empty: lo_ == hi_ == 0), and
    // tells whether every lane there that did not return is active.
    void scan(uint32_t from, uint32_t to) {
        uint32_t first = to, last = from, idle = 0;
        const uint32_t *m = exec(), *l = live();
        for (uint32_t lane = from; lane < to; lane += kChunk) {
            uint32_t any = 0;
            for (uint32_t i = lane; i < lane + kChunk; ++i) {
                any |= m[i];
                idle |= l[i] & ~m[i];
            }
            if (!any) continue;
            first = std::min(first, lane);
            last = lane + kChunk;
        }
        lo_ = first < last ? first : 0;
        hi_ = first < last ? last : 0;
        all_live_ = idle == 0;
    }

    // The lanes whose condition (x of source 0) is zero, or non-zero when `nonzero`, among the active ones, or
    // null when there is none. Negating an integer does not change whether it is zero, so the modifier is not
    // applied.
    const uint32_t *test(const LanePlan &pl, bool nonzero) {
        uint32_t *out = scratch(kSecond);
        const bool any = select_lanes(lo_, hi_, out, exec(), pl.src[0][0], nonzero);
        return any ? out : nullptr;
    }

    // Opens a block that saves the active lanes; its second row starts as `second` (null: no lane).
    void open(bool loop, uint32_t exit, const uint32_t *second) {
        f_.frames[depth_] = {loop, false, exit, lo_, hi_};
        copy_lanes(lo_, hi_, saved(depth_), exec());
        if (second) {
            copy_lanes(lo_, hi_, other(depth_), second);
        } else {
            std::fill(other(depth_) + lo_, other(depth_) + hi_, 0u);
        }
        ++depth_;
    }

    // Makes `rows`, less the lanes of `clear`, the active lanes, over the range of the innermost block.
    void restore(const uint32_t *rows, const uint32_t *clear) {
        const LaneFile::Frame &frame = f_.frames[depth_ - 1];
        copy_lanes(frame.lo, frame.hi, exec(), rows);
        if (clear) clear_lanes(frame.lo, frame.hi, exec(), clear);
        scan(frame.lo, frame.hi);
    }

    // Takes `gone` out of the active lanes. A break or continue also takes them out of the `if` blocks inside
    // the loop, and a break keeps them out of the loop's next passes; a return takes them out of every block.
    void leave(Leave kind, const uint32_t *gone) {
        size_t loop = depth_;
        if (kind != Leave::kReturn)
            while (!f_.frames[loop - 1].loop) --loop;
        clear_lanes(lo_, hi_, exec(), gone);
        for (size_t frame = kind == Leave::kReturn ? 0 : loop - 1; frame < depth_; ++frame) {
            LaneFile::Frame &f = f_.frames[frame];
            f.left = f.left || f.loop;  // the loop's next pass starts from its saved lanes
            if (kind != Leave::kReturn && frame == loop - 1) continue;
            clear_lanes(lo_, hi_, saved(frame), gone);
            if (!f.loop) clear_lanes(lo_, hi_, other(frame), gone);
        }
        if (kind == Leave::kReturn) clear_lanes(lo_, hi_, live(), gone);
        if (kind == Leave::kBreak) add_lanes(lo_, hi_, other(loop - 1), gone);
        scan(lo_, hi_);
    }

    // Flow steps return the next step.
    uint32_t branch(const Step &s, const LanePlan &pl, uint32_t next) {
        switch (s.op) {
        case StepOp::kLoop:
            open(true, s.target - 1, nullptr);  // the second row holds the lanes that broke
            return next;
        case StepOp::kEndloop:
            // Lanes that continued rejoin; the loop ends when every lane broke or returned. When no lane left
            // during the pass, the active lanes are those the pass began with.
            if (!f_.frames[depth_ - 1].left) return s.target;
            f_.frames[depth_ - 1].left = false;
            restore(saved(depth_ - 1), other(depth_ - 1));
            if (hi_) return s.target;
            restore(saved(depth_ - 1), nullptr);
            --depth_;
            return next;
        case StepOp::kIf: {
            const uint32_t *skip = test(pl, !s.flag);  // the second row holds the lanes of the `else` side
            open(false, s.target - 1, skip);
            if (skip) {
                clear_lanes(lo_, hi_, exec(), skip);
                scan(lo_, hi_);
            }
            return next;
        }
        case StepOp::kElse:
            restore(other(depth_ - 1), nullptr);
            f_.frames[depth_ - 1].exit = s.target - 1;
            return next;
        case StepOp::kEndif:
            restore(saved(depth_ - 1), nullptr);
            --depth_;
            return next;
        case StepOp::kBreak:
        case StepOp::kContinue:
        case StepOp::kRet: {
            const Leave kind = s.op == StepOp::kBreak      ? Leave::kBreak
                               : s.op == StepOp::kContinue ? Leave::kContinue
                                                           : Leave::kReturn;
            copy_lanes(lo_, hi_, scratch(kSecond), exec());
            leave(kind, scratch(kSecond));
            return next;
        }
        case StepOp::kBreakc:
        case StepOp::kContinuec:
            if (const uint32_t *gone = test(pl, s.flag))
                leave(s.op == StepOp::kBreakc ? Leave::kBreak : Leave::kContinue, gone);
            return next;
        default:
            return next;
        }
    }

    CORVO_LANE_GROUP_TARGET void execute() {
        const Step *steps = p_.steps.data();
        const LanePlan *plans = f_.plans.data();
        const uint32_t count = uint32_t(p_.steps.size());
        for (uint32_t pc = 0; pc < count;) {
            const LanePlan &pl = plans[pc];
            const Step &s = steps[pc++];
            switch (s.op) {
#define FLOAT1(OP, EXPR)                                      \
    case StepOp::OP:                                          \
        float_alu<1>(s, pl, [](uint32_t u) { return EXPR; }); \
        break;
#define FLOAT2(OP, EXPR)                                                                  \
    case StepOp::OP:                                                                      \
        float_alu<2>(s, pl, [](uint32_t u, uint32_t v) { return canonical_lane(EXPR); }); \
        break;
#define COMPARE(OP, EXPR)                                                 \
    case StepOp::OP:                                                      \
        alu<2>(pl, [](uint32_t u, uint32_t v) { return mask_of(EXPR); }); \
        break;
#define INT1(OP, EXPR)                                         \
    case StepOp::OP:                                           \
        alu<1>(pl, [](uint32_t u) { return uint32_t(EXPR); }); \
        break;
#define INT2(OP, EXPR)                                                     \
    case StepOp::OP:                                                       \
        alu<2>(pl, [](uint32_t u, uint32_t v) { return uint32_t(EXPR); }); \
        break;
#define X as_float(u)
#define Y as_float(v)
#define SU int32_t(u)
#define SV int32_t(v)
                FLOAT2(kAdd, X + Y)
                FLOAT2(kMul, X * Y)
                FLOAT2(kDiv, X / Y)
                FLOAT2(kMin, float_min(X, Y))
                FLOAT2(kMax, float_max(X, Y))
                COMPARE(kEq, X == Y)
                COMPARE(kNe, X != Y)
                COMPARE(kLt, X < Y)
                COMPARE(kGe, X >= Y)
                FLOAT1(kRoundNe, round_lane<Round::kNearestEven>(u))
                FLOAT1(kRoundNi, round_lane<Round::kDown>(u))
                FLOAT1(kRoundPi, round_lane<Round::kUp>(u))
                FLOAT1(kRoundZ, round_lane<Round::kZero>(u))
                FLOAT1(kLog, float_log2(u))
                FLOAT1(kExp, float_exp2(u))
                INT2(kAnd, u & v)
                INT2(kOr, u | v)
                INT2(kXor, u ^ v)
                INT1(kNot, ~u)
                INT1(kIneg, 0u - u)
                INT2(kIadd, u + v)
                INT2(kIshl, u << (v & 31))
                INT2(kIshr, SU >> (v & 31))
                INT2(kUshr, u >> (v & 31))
                INT2(kIeq, mask_of(u == v))
                INT2(kIne, mask_of(u != v))
                INT2(kIge, mask_of(SU >= SV))
                INT2(kIlt, mask_of(SU < SV))
                INT2(kUge, mask_of(u >= v))
                INT2(kUlt, mask_of(u < v))
                INT2(kImin, std::min(SU, SV))
                INT2(kImax, std::max(SU, SV))
                INT2(kUmin, std::min(u, v))
                INT2(kUmax, std::max(u, v))
                INT1(kUtof, as_bits(float(u)))
                INT1(kItof, as_bits(float(SU)))
#undef FLOAT1
#undef FLOAT2
#undef COMPARE
#undef INT1
#undef INT2
            case StepOp::kFtou:
                alu<1>(pl, [](uint32_t u) { return ftou_lane(u); });
                break;
            case StepOp::kFtoi:
                alu<1>(pl, [](uint32_t u) { return ftoi_lane(u); });
                break;
            case StepOp::kMad:
                float_alu<3>(s, pl,
                             [](uint32_t u, uint32_t v, uint32_t w) { return canonical_lane(X * Y + as_float(w)); });
                break;
            case StepOp::kImad:
                alu<3>(pl, [](uint32_t u, uint32_t v, uint32_t w) { return u * v + w; });
                break;
            case StepOp::kMov:
                float_alu<1>(s, pl, [](uint32_t u) { return u; });
                break;
            case StepOp::kMovc:  // an integer condition between two float values
                alu<3>(pl, [](uint32_t u, uint32_t v, uint32_t w) { return u ? v : w; });
                break;
#undef X
#undef Y
#undef SU
#undef SV
            case StepOp::kImul:
                alu_pair(pl, [](uint32_t x, uint32_t y, uint32_t &high, uint32_t &low) {
                    const int64_t product = int64_t(int32_t(x)) * int32_t(y);
                    high = uint32_t(uint64_t(product) >> 32);
                    low = uint32_t(product);
                });
                break;
            case StepOp::kUdiv:
                alu_pair(pl, [](uint32_t x, uint32_t y, uint32_t &quotient, uint32_t &remainder) {
                    quotient = y ? x / y : ~0u;
                    remainder = y ? x % y : ~0u;
                });
                break;
            case StepOp::kLd:
            case StepOp::kLdUavTyped:
                if (all_live_) {
                    load_texture<true>(s, pl);
                } else {
                    load_texture<false>(s, pl);
                }
                break;
            case StepOp::kStoreUavTyped:
                store_texture(pl);
                break;
            case StepOp::kLdStructured:
                load_structured(s, pl);
                break;
            case StepOp::kStoreStructured:
                store_structured(s, pl);
                break;
            default:
                pc = branch(s, pl, pc);
                // With no lane left in a block, go to the step that closes it (or splits it, at `else`).
                if (!hi_) {
                    if (!depth_) return;
                    pc = f_.frames[depth_ - 1].exit;
                }
                break;
            }
        }
    }

    LaneFile &f_;
    const LaneDispatch &d_;
    const Program &p_;
    const uint32_t stride_;
    uint32_t lo_ = 0, hi_ = 0;  // chunk-aligned lanes that hold every active lane
    bool all_live_ = true;      // every lane in [lo_, hi_) that has not returned is active
    size_t depth_ = 0;          // open blocks
};

}  // namespace
}  // namespace corvo::emu::shader
