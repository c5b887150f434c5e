/* LAME's DLL source asks for <Windef.h>; MinGW's header is lower case. */
#include <windef.h>
