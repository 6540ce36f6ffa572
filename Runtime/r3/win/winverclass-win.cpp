// Windows backend: the Windows version classification shared by initialisation and its readers.
#include "r3/win/internal-win.h"

constinit uint32_t WindowsVersionClass = 0;
