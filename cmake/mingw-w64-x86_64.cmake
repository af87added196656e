# Cross build for 64-bit Windows with Debian's mingw-w64 toolchain (the posix thread model, which
# Qt needs for std::thread) against a Qt built for Windows, and the test programs run under Wine.
#
#     cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# TALLYCONF_WINDOWS_QT names the Qt prefix; by default the one scripts/windows-qt.sh last built
# (named in /var/cache/tallyconf-windows/current).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TALLYCONF_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TALLYCONF_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TALLYCONF_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TALLYCONF_MINGW_TRIPLET}-windres)

if(NOT TALLYCONF_WINDOWS_QT)
    set(current_file "/var/cache/tallyconf-windows/current")
    if(DEFINED ENV{TALLYCONF_WIN_CACHE})
        set(current_file "$ENV{TALLYCONF_WIN_CACHE}/current")
    endif()
    if(EXISTS "${current_file}")
        file(STRINGS "${current_file}" TALLYCONF_WINDOWS_QT LIMIT_COUNT 1)
    endif()
endif()
if(NOT TALLYCONF_WINDOWS_QT OR NOT EXISTS "${TALLYCONF_WINDOWS_QT}/lib/cmake/Qt5Core")
    message(FATAL_ERROR "No Qt for Windows found (TALLYCONF_WINDOWS_QT='${TALLYCONF_WINDOWS_QT}'): "
                        "build it with scripts/windows-qt.sh")
endif()
set(TALLYCONF_WINDOWS_QT "${TALLYCONF_WINDOWS_QT}" CACHE PATH "Qt built for Windows")

# Libraries and headers come from the Windows sysroot and the Qt prefix; programs run during the
# build (moc, uic, rcc: Linux programs the cross Qt build left in its bin/) from the build host.
set(CMAKE_FIND_ROOT_PATH /usr/${TALLYCONF_MINGW_TRIPLET} "${TALLYCONF_WINDOWS_QT}")
set(CMAKE_PREFIX_PATH "${TALLYCONF_WINDOWS_QT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Wine runs the test programs. Debian's wine64 package puts the loader outside PATH; the wine
# package's /usr/bin/wine wrapper would do too, but warns about a missing 32-bit Wine on every
# start, and the tests read the programs' stderr.
find_program(TALLYCONF_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TALLYCONF_WINE)
    # Each build tree has a Wine prefix of its own, which scripts/windows.sh prepares (fonts,
    # the COM port of the serial test); WINEPREFIX in the environment wins.
    if(DEFINED ENV{WINEPREFIX})
        set(tally_wineprefix "$ENV{WINEPREFIX}")
    else()
        set(tally_wineprefix "${CMAKE_BINARY_DIR}/wineprefix")
    endif()
    set(TALLYCONF_WINEPREFIX "${tally_wineprefix}" CACHE PATH "Wine prefix the tests run in")
    # Wine hands no QT_ variable of Linux to Windows programs, so that a Linux desktop's Qt
    # settings stay out of them; a WINEQT_ variable arrives without its WINE. Without a console
    # Qt Test writes its plain log to the debugger, not stdout, unless told otherwise; tests
    # run without a display. Wine's menu builder stays off: it would put the programs' entries
    # into the Linux desktop's menus, outside the build tree.
    set(CMAKE_CROSSCOMPILING_EMULATOR
        ${CMAKE_COMMAND} -E env WINEPREFIX=${TALLYCONF_WINEPREFIX} WINEDEBUG=-all
        WINEDLLOVERRIDES=winemenubuilder.exe=d
        WINEQT_FORCE_STDERR_LOGGING=1 WINEQT_QPA_PLATFORM=offscreen
        ${TALLYCONF_WINE})
endif()

# A program started under Wine sees the build tree on drive Z:, where Wine puts the Linux root;
# paths compiled into the test programs get this in front.
set(TALLYCONF_RUNTIME_DRIVE "Z:")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TALLYCONF_WINDOWS_QT)
