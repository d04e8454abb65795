# SPDX-License-Identifier: MIT
# Run by CPack on its staging tree. A Debian package ships its manual page
# and changelog compressed with no name or time stamp in the gzip header,
# and says why its binary is static.
if(CPACK_GENERATOR STREQUAL "DEB")
	set(root "${CPACK_TEMPORARY_DIRECTORY}/usr/share")
	foreach(f man/man1/pagedrop.1 doc/pagedrop/changelog)
		execute_process(COMMAND gzip -9n "${root}/${f}" RESULT_VARIABLE rc)
		if(NOT rc EQUAL 0)
			message(FATAL_ERROR "gzip ${root}/${f} failed: ${rc}")
		endif()
	endforeach()
	file(MAKE_DIRECTORY "${root}/lintian/overrides")
	file(COPY_FILE "${CMAKE_CURRENT_LIST_DIR}/lintian-overrides"
		"${root}/lintian/overrides/pagedrop")
endif()
