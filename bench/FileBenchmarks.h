#pragma once

// Start-up, quit and Add with lists of 32,767 rows, ours beside the same work done the plain way.
void registerFileBenchmarks();
