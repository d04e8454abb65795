# SPDX-License-Identifier: MIT
# Adds to the rpmlintrc RPMLINTRC what this machine's rpmlint needs, if
# anything: read by package.cmake, and run as
# cmake -DRPMLINTRC=FILE -P packaging/rpmlint.cmake where the packages were
# built on another machine.
# rpmlint 2.4 (Debian 12's) records a manual page's section ("1") where it
# means its name, so it never finds the page that the package ships; 2.7
# (Debian 13's) finds it, and calls a filter for it unused.
find_program(RPMLINT rpmlint)
if(RPMLINT)
	execute_process(COMMAND ${RPMLINT} --version OUTPUT_VARIABLE rpmlintversion ERROR_QUIET)
	if(rpmlintversion MATCHES "^[0-9.]+" AND CMAKE_MATCH_0 VERSION_LESS 2.7)
		file(APPEND ${RPMLINTRC} "
# This machine's rpmlint, ${CMAKE_MATCH_0}, cannot find the manual page.
addFilter(\"no-manual-page-for-binary pagedrop\")
")
	endif()
endif()
