// A library that looks like lame_enc.dll but lacks beCloseStream.
extern "C" __declspec(dllexport) int beInitStream() { return 1; }
extern "C" __declspec(dllexport) int beEncodeChunk() { return 1; }
extern "C" __declspec(dllexport) int beDeinitStream() { return 1; }
