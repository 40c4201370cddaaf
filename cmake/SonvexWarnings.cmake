# SPDX-License-Identifier: GPL-3.0-or-later
# One warnings setting for every target of the project.
function(sonvex_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
    -Wno-sign-conversion -Werror=return-type -Werror=uninitialized)
endfunction()
