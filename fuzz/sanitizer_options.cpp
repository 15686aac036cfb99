// The fuzz targets load the sanitizer runtime as a shared library, so that
// the program's operator new, and with it the allocation cap, stays in force
// as in the tool. The compiler driver lists the C++ library before that
// runtime; the C++ library defines no malloc, so the order is sound.
extern "C" const char* __asan_default_options()
{
    return "verify_asan_link_order=0";
}
