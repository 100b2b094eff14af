# The hardening Debian builds its packages with: position-independent executables, checked
# buffer functions, stack canaries and a read-only relocation table bound at start. Sanitizer
# builds go without it, since fortified calls hide the accesses the sanitizers check.
include(CheckPIESupported)
check_pie_supported(LANGUAGES CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
add_compile_options(-fstack-protector-strong)
# Fortified functions need the optimiser; a Debug build would only warn.
add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
add_link_options(LINKER:-z,relro LINKER:-z,now)
