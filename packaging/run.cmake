# SPDX-License-Identifier: MIT
# run COMMAND [ARG...]: runs it, and stops CPack where it fails.
function(run)
	execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc)
	if(NOT rc EQUAL 0)
		message(FATAL_ERROR "${ARGN}: ${rc}")
	endif()
endfunction()
