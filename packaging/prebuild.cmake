# SPDX-License-Identifier: MIT
# Run by CPack on its staging tree. Both packages ship the manual page
# compressed with no name or time stamp in the gzip header; a Debian package
# also its changelog, zsh's completion where Debian's zsh finds it, and the
# reason why its binary is static.
if(CPACK_GENERATOR STREQUAL "DEB")
	set(gz man/man1/pagedrop.1 doc/pagedrop/changelog)
elseif(CPACK_GENERATOR STREQUAL "RPM")
	set(gz man/man1/pagedrop.1)
else()
	return()
endif()
set(root "${CPACK_TEMPORARY_DIRECTORY}/usr/share")
include(${CMAKE_CURRENT_LIST_DIR}/run.cmake)
foreach(f IN LISTS gz)
	run(gzip -9n "${root}/${f}")
endforeach()
# A Debian package puts zsh's completion where Debian's zsh reads it.
set(zsh "${CPACK_TEMPORARY_DIRECTORY}/usr/${CPACK_PAGEDROP_ZSH_DIR}")
if(IS_ABSOLUTE "${CPACK_PAGEDROP_ZSH_DIR}")
	set(zsh "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PAGEDROP_ZSH_DIR}")
endif()
set(debianzsh "${CPACK_TEMPORARY_DIRECTORY}/usr/${CPACK_PAGEDROP_DEBIAN_ZSH_DIR}")
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT zsh STREQUAL debianzsh)
	file(MAKE_DIRECTORY "${debianzsh}")
	file(CHMOD "${debianzsh}" PERMISSIONS
		OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
	file(RENAME "${zsh}/_pagedrop" "${debianzsh}/_pagedrop")
	file(GLOB left "${zsh}/*")
	if(NOT left)
		file(REMOVE_RECURSE "${zsh}")
	endif()
endif()
# The lintian override that fits how the binary is linked, which the build
# picked.
if(CPACK_GENERATOR STREQUAL "DEB" AND EXISTS "${CPACK_PAGEDROP_LINTIAN_OVERRIDES}")
	file(MAKE_DIRECTORY "${root}/lintian/overrides")
	file(COPY_FILE "${CPACK_PAGEDROP_LINTIAN_OVERRIDES}" "${root}/lintian/overrides/pagedrop")
	# Made here, they would follow the builder's umask.
	file(CHMOD "${root}/lintian" "${root}/lintian/overrides" PERMISSIONS
		OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
	file(CHMOD "${root}/lintian/overrides/pagedrop" PERMISSIONS
		OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endif()
