/* LAME's Dll/BladeMP3EncDLL.c as MinGW must see it. Two things in LAME's
 * source do not hold with GCC, and we adapt them here instead of editing it:
 * - its header puts the packed attribute on the pointer type, where GCC
 *   ignores it, so BE_CONFIG would come out 332 bytes instead of the 331 that
 *   callers fill: the header is read once here, packed by pragma, and its
 *   include guard keeps the .c from reading it again;
 * - it includes <Windows.h> and <Windef.h> with capitals, which the shims
 *   beside this file turn into MinGW's lower-case headers. */
#include <windows.h>

#pragma pack(push, 1)
#include "BladeMP3EncDLL.h"
#pragma pack(pop)

typedef char be_config_must_be_331_bytes[sizeof(BE_CONFIG) == 331 ? 1 : -1];
typedef char be_version_must_be_265_bytes[sizeof(BE_VERSION) == 265 ? 1 : -1];

#include "BladeMP3EncDLL.c"
