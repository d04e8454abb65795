# SPDX-License-Identifier: MIT
# Run by CPack after it has made the source tarball, which holds the order,
# owners and modes of the checkout as it finds them. GNU tar packs the same
# files again sorted by name, owned by 0/0, 0644, or 0755 for folders and
# executables, each dated SOURCE_DATE_EPOCH (by default the first changelog
# entry's date, as the release takes it), and gzip leaves out name and time:
# any checkout of one commit, a clone or the unpacked tarball, by any user
# under any umask, gives the same bytes.
include(${CMAKE_CURRENT_LIST_DIR}/run.cmake)
set(mtime "@${CPACK_PAGEDROP_EPOCH}")
if(DEFINED ENV{SOURCE_DATE_EPOCH})
	set(mtime "@$ENV{SOURCE_DATE_EPOCH}")
endif()
foreach(tgz IN LISTS CPACK_PACKAGE_FILES)
	set(root "${CPACK_TOPLEVEL_DIRECTORY}/normalised")
	file(REMOVE_RECURSE "${root}")
	file(MAKE_DIRECTORY "${root}")
	run(tar -xmzf "${tgz}" -C "${root}")
	execute_process(
		COMMAND env LC_ALL=C tar -C "${root}" --sort=name --format=gnu "--mtime=${mtime}"
			--owner=0 --group=0 --numeric-owner --mode=u=rwX,go=rX
			-cf - ${CPACK_PACKAGE_FILE_NAME}
		COMMAND gzip -9n
		OUTPUT_FILE "${tgz}" RESULTS_VARIABLE rcs)
	if(NOT rcs STREQUAL "0;0")
		message(FATAL_ERROR "packing ${tgz} again failed: ${rcs}")
	endif()
	file(REMOVE_RECURSE "${root}")
endforeach()
