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
foreach(f IN LISTS gz)
	execute_process(COMMAND gzip -9n "${root}/${f}" RESULT_VARIABLE rc)
	if(NOT rc EQUAL 0)
		message(FATAL_ERROR "gzip ${root}/${f} failed: ${rc}")
	endif()
endforeach()
# Debian's zsh reads completions from vendor-completions, and never from
# /usr/share/zsh/site-functions, where the build puts them by default.
set(zsh "${CPACK_TEMPORARY_DIRECTORY}/usr/${CPACK_PAGEDROP_ZSH_DIR}")
if(IS_ABSOLUTE "${CPACK_PAGEDROP_ZSH_DIR}")
	set(zsh "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PAGEDROP_ZSH_DIR}")
endif()
set(vendor "${root}/zsh/vendor-completions")
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT zsh STREQUAL vendor)
	file(MAKE_DIRECTORY "${vendor}")
	file(CHMOD "${vendor}" PERMISSIONS
		OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
	file(RENAME "${zsh}/_pagedrop" "${vendor}/_pagedrop")
	file(GLOB left "${zsh}/*")
	if(NOT left)
		file(REMOVE_RECURSE "${zsh}")
	endif()
endif()
# Of the overrides, only the paragraph whose tag fits how the binary is
# linked: lintian reports an override that nothing used.
if(CPACK_GENERATOR STREQUAL "DEB" AND CPACK_PAGEDROP_LINTIAN_TAG)
	file(READ "${CPACK_PAGEDROP_LINTIAN_OVERRIDES}" text)
	string(REPLACE ";" "\\;" text "${text}")
	string(REPLACE "\n\n" ";" paragraphs "${text}")
	foreach(p IN LISTS paragraphs)
		if(p MATCHES "\npagedrop: ${CPACK_PAGEDROP_LINTIAN_TAG} ")
			string(STRIP "${p}" keep)
		endif()
	endforeach()
	if(NOT keep)
		message(FATAL_ERROR "no lintian override for ${CPACK_PAGEDROP_LINTIAN_TAG}")
	endif()
	file(MAKE_DIRECTORY "${root}/lintian/overrides")
	file(WRITE "${root}/lintian/overrides/pagedrop" "${keep}\n")
	# Made here, they would follow the builder's umask.
	file(CHMOD "${root}/lintian" "${root}/lintian/overrides" PERMISSIONS
		OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
	file(CHMOD "${root}/lintian/overrides/pagedrop" PERMISSIONS
		OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endif()
