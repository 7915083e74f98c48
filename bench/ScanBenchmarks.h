#pragma once

// The scan tick at the sizes the lists allow, ours beside the literal reference.
void registerScanBenchmarks();
