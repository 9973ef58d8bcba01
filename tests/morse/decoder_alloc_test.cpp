// tests/morse/decoder_alloc_test.cpp: decoding must not allocate. Every allocation of this
// process is counted while a long message is keyed and shown, and while a camera signal is
// fed: malloc and its kin are replaced (or, under the address sanitizer, hooked), and operator
// new allocates through them.
#include "morse/decoder.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

#include "support/morse_signal.hpp"

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime reports every allocation to these hooks (its header is not always
// installed, so the one function is declared here).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void *,
                                                                             size_t),
                                                         void (*free_hook)(const volatile void *));
#define COUNT_BY_SANITIZER_HOOK 1
#endif

namespace {
std::atomic<long> g_allocations{0};
std::atomic<bool> g_counting{false};

void _count() {
    if (g_counting.load(std::memory_order_relaxed)) g_allocations++;
}
} // namespace

#if defined(COUNT_BY_SANITIZER_HOOK)
static void _malloc_hook(const volatile void *, size_t) {
    _count();
}
static void _free_hook(const volatile void *) {}
[[maybe_unused]] static const int g_hooks =
    __sanitizer_install_malloc_and_free_hooks(_malloc_hook, _free_hook);
#else
// glibc lets a program replace malloc; these forward to its own allocator and count.
extern "C" void *__libc_malloc(size_t);
extern "C" void *__libc_calloc(size_t, size_t);
extern "C" void *__libc_realloc(void *, size_t);
extern "C" void *__libc_memalign(size_t, size_t);
extern "C" void __libc_free(void *);
extern "C" void *malloc(size_t n) {
    _count();
    return __libc_malloc(n);
}
extern "C" void *calloc(size_t c, size_t n) {
    _count();
    return __libc_calloc(c, n);
}
extern "C" void *realloc(void *p, size_t n) {
    _count();
    return __libc_realloc(p, n);
}
extern "C" void *memalign(size_t a, size_t n) {
    _count();
    return __libc_memalign(a, n);
}
extern "C" int posix_memalign(void **out, size_t a, size_t n) {
    _count();
    void *p = __libc_memalign(a, n);
    if (!p) return 12; // ENOMEM
    *out = p;
    return 0;
}
extern "C" void *aligned_alloc(size_t a, size_t n) {
    _count();
    return __libc_memalign(a, n);
}
extern "C" void free(void *p) {
    __libc_free(p);
}
#endif

namespace {
// Counts allocations between construction and count().
struct AllocationCounter {
    AllocationCounter() {
        g_allocations = 0;
        g_counting = true;
    }
    ~AllocationCounter() { g_counting = false; }
    long count() {
        g_counting = false;
        return g_allocations.load();
    }
};
} // namespace

TEST(DecoderAllocationTest, TheCounterSeesAllocations) {
    AllocationCounter counter;
    void *volatile p = malloc(24);
    free(p);
    int *volatile q = new int(3);
    delete q;
    EXPECT_GE(counter.count(), 2);
}

TEST(DecoderAllocationTest, KeyingALongMessageAllocatesNothing) {
    std::string text;
    for (int i = 0; i < 60; i++) text += "THE QUICK BROWN FOX 0123 ";
    MORSE_TIMING t{100, 3, 3, 7};
    MORSE_SEQUENCE *seq = morse_sequence_build(text.c_str(), &t);
    ASSERT_NE(seq, nullptr);
    HAND_MODEL h;
    h.sigma = 0.1;
    std::vector<KEY_EDGE_AT> edges = runs_to_edges(hand_runs(seq, h), 0);
    morse_sequence_free(&seq);
    ASSERT_GT(edges.size(), 4200u); // beyond the run capacity

    for (int human = 0; human <= 1; human++) {
        DECODER_CONFIG c;
        decoder_config_default(&c);
        c.human = human;
        MORSE_DECODER *d = decoder_new(&c);
        DECODED_MESSAGE *m = new DECODED_MESSAGE;
        DECODER_STATUS st;
        AllocationCounter counter;
        for (size_t i = 0; i < edges.size(); i++) {
            decoder_key(d, edges[i].t, edges[i].down);
            decoder_tick(d, edges[i].t + 1);
            if (i % 64 == 0) decoder_live(d, m);
            decoder_status(d, &st);
        }
        decoder_live(d, m);
        EXPECT_EQ(counter.count(), 0) << "human " << human;
        EXPECT_GT(strlen(m->text), 500u);
        delete m;
        decoder_free(&d);
    }
}

TEST(DecoderAllocationTest, FeedingACameraSignalAllocatesNothing) {
    MORSE_TIMING t{100, 3, 3, 7};
    MORSE_SEQUENCE *seq = morse_sequence_build("CQ CQ DE LUMIKEY LUMIKEY K", &t);
    LIGHT_MODEL lm;
    lm.noise = 5;
    std::vector<LIGHT_SAMPLE> samples = runs_to_light(sequence_runs(seq), lm);
    morse_sequence_free(&seq);
    MORSE_DECODER *d = decoder_new(nullptr);
    DECODED_MESSAGE *m = new DECODED_MESSAGE;
    int messages = 0;
    AllocationCounter counter;
    for (const LIGHT_SAMPLE &s : samples) {
        decoder_feed(d, s.t, s.luma);
        messages += decoder_poll_message(d, m);
    }
    EXPECT_EQ(counter.count(), 0);
    EXPECT_EQ(messages, 1);
    EXPECT_STREQ(m->text, "CQ CQ DE LUMIKEY LUMIKEY K");
    delete m;
    decoder_free(&d);
}
