/* LAME's DLL source asks for <Windows.h>; MinGW's header is lower case. */
#include <windows.h>
