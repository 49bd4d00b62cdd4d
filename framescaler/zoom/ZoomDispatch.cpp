#include "Zoom.h"

namespace framescaler {

bool cpuHasAvx2()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

bool cpuHasAvx512()
{
#if defined(__x86_64__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")
        && __builtin_cpu_supports("avx512vl");
#else
    return false;
#endif
}

bool cpuHasAvx512Vbmi()
{
#if defined(__x86_64__)
    return cpuHasAvx512() && __builtin_cpu_supports("avx512vbmi");
#else
    return false;
#endif
}

const KernelChoice& bestKernels()
{
    static const KernelChoice choice = [] {
#if defined(__x86_64__) || defined(__i386__)
        if (cpuHasAvx2() && cpuHasAvx512Vbmi())
            return KernelChoice{&kNearest_AVX2, &kBilinear_AVX512_VBMI};
        if (cpuHasAvx2() && cpuHasAvx512())
            return KernelChoice{&kNearest_AVX2, &kBilinear_AVX512};
        if (cpuHasAvx2())
            return KernelChoice{&kNearest_AVX2, &kBilinear_AVX2};
        return KernelChoice{&kNearest_SSE2, &kBilinear_SSE2};
#else
        return KernelChoice{&kNearest_C, &kBilinear_C};
#endif
    }();
    return choice;
}

} // namespace framescaler
