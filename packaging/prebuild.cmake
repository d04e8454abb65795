# SPDX-License-Identifier: MIT
# Run by CPack on its staging tree. Both packages ship the manual page
# compressed with no name or time stamp in the gzip header; a Debian package
# also its changelog, and the reason why its binary is static.
if(CPACK_GENERATOR STREQUAL "DEB")
	set(gz man/man1/pagedrop.1 doc/pagedrop/changelog)
elseif(CPACK_GENERATOR STREQUAL "RPM")
	set(gz man/man1/pagedrop.1)
else()
	return()
endif()
set(root "${CPACK_TEMPORARY_DIRECTORY}/usr/share")
foreach(f IN LISTS gz)
	execute_process(COMMAND gzip -9n "${root}/${f}" RESULT_VARIABLE rc)
	if(NOT rc EQUAL 0)
		message(FATAL_ERROR "gzip ${root}/${f} failed: ${rc}")
	endif()
endforeach()
if(CPACK_GENERATOR STREQUAL "DEB")
	file(MAKE_DIRECTORY "${root}/lintian/overrides")
	file(COPY_FILE "${CMAKE_CURRENT_LIST_DIR}/lintian-overrides"
		"${root}/lintian/overrides/pagedrop")
	# The folders would follow the builder's umask, the file the checkout's mode.
	file(CHMOD "${root}/lintian" "${root}/lintian/overrides" PERMISSIONS
		OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
	file(CHMOD "${root}/lintian/overrides/pagedrop" PERMISSIONS
		OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endif()
