# SPDX-License-Identifier: MIT
# Run by CPack after it has made a package. CPack has no Built-Using field,
# so the Debian package is unpacked, given one before its Description, and
# built again by dpkg-deb, which clamps its times to SOURCE_DATE_EPOCH.
if(NOT CPACK_GENERATOR STREQUAL "DEB" OR NOT CPACK_PAGEDROP_BUILT_USING)
	return()
endif()
include(${CMAKE_CURRENT_LIST_DIR}/run.cmake)
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
	set(root "${CPACK_TOPLEVEL_DIRECTORY}/built-using")
	file(REMOVE_RECURSE "${root}")
	run(dpkg-deb -R "${deb}" "${root}")
	file(READ "${root}/DEBIAN/control" control)
	# CPack ends the control file with a blank line, which would make
	# anything after it a second paragraph.
	string(STRIP "${control}" control)
	string(REPLACE "\nDescription:" "\nBuilt-Using: ${CPACK_PAGEDROP_BUILT_USING}\nDescription:"
		control "${control}")
	file(WRITE "${root}/DEBIAN/control" "${control}\n")
	run(dpkg-deb --root-owner-group -Zgzip -b "${root}" "${deb}")
	file(REMOVE_RECURSE "${root}")
endforeach()
