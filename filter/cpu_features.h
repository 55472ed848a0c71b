// What the processor the module runs on can do, as far as the engine asks.
#pragma once

// Whether the processor has AVX2, BMI1, BMI2, LZCNT and POPCNT, and the
// system keeps the wide registers across switches between threads.
bool cpuHasAvx2Set();
