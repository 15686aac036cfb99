# The hardening Debian builds with: fortified libc calls, stack protector,
# PIE, and a read-only relocation table resolved at start-up. Left out of the
# sanitizer and fuzzer builds, whose run-time libraries do this checking.
option(PICTAVO_HARDENING "Build with the hardening flags of Debian packages" ON)
if(NOT PICTAVO_HARDENING OR PICTAVO_SANITIZE OR PICTAVO_TSAN OR PICTAVO_FUZZ)
  return()
endif()

include(CheckCXXCompilerFlag)
include(CheckPIESupported)

check_pie_supported(LANGUAGES C CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

# Fortification needs the optimiser; it only warns in a debug build.
add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)
foreach(flag -fstack-clash-protection -fcf-protection)
  string(MAKE_C_IDENTIFIER "HAS${flag}" var)
  check_cxx_compiler_flag(${flag} ${var})
  if(${var})
    add_compile_options(${flag})
  endif()
endforeach()
add_link_options(LINKER:-z,relro LINKER:-z,now)
