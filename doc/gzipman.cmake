# Run by CPack on its staging tree: Debian packages ship manual pages
# compressed, with no name or time stamp in the gzip header.
if(CPACK_GENERATOR STREQUAL "DEB")
	file(GLOB_RECURSE pages "${CPACK_TEMPORARY_DIRECTORY}/*.1")
	list(FILTER pages INCLUDE REGEX "/man/man1/[^/]*$")
	foreach(page ${pages})
		execute_process(COMMAND gzip -9n "${page}" RESULT_VARIABLE rc)
		if(NOT rc EQUAL 0)
			message(FATAL_ERROR "gzip ${page} failed: ${rc}")
		endif()
	endforeach()
endif()
