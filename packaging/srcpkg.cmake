# SPDX-License-Identifier: MIT
# Read by cpack before each package. The source package holds the files
# that git tracks and nothing else: build folders, demo and benchmark data
# and any other untracked file in the tree are left out. Without git, as
# in an unpacked source tarball, the build folder it is made from is left
# out all the same.
if(CPACK_INSTALLED_DIRECTORIES)
	list(GET CPACK_INSTALLED_DIRECTORIES 0 top)
	execute_process(COMMAND git ls-files --others --directory
		WORKING_DIRECTORY "${top}" RESULT_VARIABLE rc
		OUTPUT_VARIABLE others OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
	set(paths "${CPACK_PAGEDROP_BUILD_DIR}")
	if(rc EQUAL 0 AND others)
		string(REPLACE "\n" ";" others "${others}")
		list(TRANSFORM others PREPEND "${top}/")
		list(APPEND paths ${others})
	endif()
	# Each path becomes a regex; the folder's own name may hold + or . too.
	foreach(path IN LISTS paths)
		string(REGEX REPLACE "([][+.*()^$?|\\\\])" "\\\\\\1" path "${path}")
		list(APPEND CPACK_IGNORE_FILES "^${path}")
	endforeach()
	# A worktree's .git is a file, which git lists neither as tracked nor other.
	list(APPEND CPACK_IGNORE_FILES "/\\.git$")
	list(APPEND CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/srctar.cmake)
endif()
