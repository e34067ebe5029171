# Compiler settings shared by every target of the project.
add_library(velth_flags INTERFACE)
target_compile_features(velth_flags INTERFACE cxx_std_20)
target_compile_options(velth_flags INTERFACE
    -Wall -Wextra -pedantic -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual -Wcast-qual -Wshadow)
target_compile_definitions(velth_flags INTERFACE
    QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII QT_NO_CAST_FROM_BYTEARRAY QT_NO_KEYWORDS
    QT_STRICT_ITERATORS QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_DISABLE_DEPRECATED_BEFORE=0x060400)
if(VELTH_WERROR)
    target_compile_options(velth_flags INTERFACE -Werror)
endif()
if(VELTH_SANITIZE)
    target_compile_options(velth_flags INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer)
    target_link_options(velth_flags INTERFACE -fsanitize=address,undefined)
endif()
if(VELTH_FUZZ)
    # Every library the fuzz targets link is instrumented for coverage.
    target_compile_options(velth_flags INTERFACE -fsanitize=fuzzer-no-link,address,undefined)
    target_link_options(velth_flags INTERFACE -fsanitize=address,undefined)
endif()
