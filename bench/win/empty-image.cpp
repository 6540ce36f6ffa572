// The smallest program built like the bootstrapper (no C runtime, windowed, kernel32 as
// its only import) that ends at once: what starting such an image costs by itself, the
// floor under the bootstrapper's own start-up.
#include <windows.h>

extern "C" void emptyImageEntry() {
    ExitProcess(0);
}
