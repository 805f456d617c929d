# Hardening of the Linux programs, as Debian builds its packages (dpkg-buildflags with
# hardening=+all): stack protector, fortified C library calls (they need the optimiser, so not
# in Debug builds), read-only relocations bound at start. PIE is the compiler's default on
# Debian. Left out of sanitizer and fuzz builds, which bring their own instrumentation.
option(TOVRAK_HARDENING "Build the Linux programs with Debian's hardening flags" ON)
if(TOVRAK_HARDENING AND UNIX AND NOT APPLE AND NOT TOVRAK_SANITIZE AND NOT TOVRAK_FUZZ)
    add_compile_options(-fstack-protector-strong
                        "$<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>")
    add_link_options(-Wl,-z,relro -Wl,-z,now)
endif()
