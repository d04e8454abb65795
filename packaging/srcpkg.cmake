# SPDX-License-Identifier: MIT
# Read by cpack before each package. The source package holds the files
# that git tracks and nothing else: build folders, demo and benchmark data
# and any other untracked file in the tree are left out.
if(CPACK_INSTALLED_DIRECTORIES)
	list(GET CPACK_INSTALLED_DIRECTORIES 0 top)
	execute_process(COMMAND git ls-files --others --directory
		WORKING_DIRECTORY "${top}" RESULT_VARIABLE rc
		OUTPUT_VARIABLE others OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
	if(rc EQUAL 0 AND others)
		# Each path becomes a regex; the folder's own name may hold + or . too.
		string(REPLACE "\n" ";" others "${others}")
		foreach(path IN LISTS others)
			string(REGEX REPLACE "([][+.*()^$?|\\\\])" "\\\\\\1" path "${top}/${path}")
			list(APPEND CPACK_IGNORE_FILES "^${path}")
		endforeach()
	endif()
endif()
