// What the processor the module runs on can do, as far as the engine asks.
#pragma once

// Whether the processor has AVX2, BMI1, BMI2, LZCNT and POPCNT, and the
// system keeps the wide registers across switches between threads.
bool cpuHasAvx2Set();

// Whether it has all cpuHasAvx2Set() asks for and AVX-512 F, BW and VL, and
// the system keeps the AVX-512 registers and masks too.
bool cpuHasAvx512Set();
