// Keeps the core library non-empty while its folders fill up.
#include "image/dib.h"
