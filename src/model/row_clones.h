// Row loops built twice on x86-64: for AVX2 and for any x86-64 processor; the
// processor picks the version at load time, so the default build still runs on any
// x86-64. Both versions round every step alike: no step is fused (-ffp-contract=off)
// and each operation rounds correctly, so their results are the same bits.
// Building with -DTAVROLIN_ROW_CLONES= keeps the default version only.
#pragma once

#ifndef TAVROLIN_ROW_CLONES
#if defined(__x86_64__) && defined(__GNUC__) && defined(__has_attribute)
#if __has_attribute(target_clones)
#define TAVROLIN_ROW_CLONES __attribute__((target_clones("avx2", "default")))
#endif
#endif
#endif
#ifndef TAVROLIN_ROW_CLONES
#define TAVROLIN_ROW_CLONES
#endif
