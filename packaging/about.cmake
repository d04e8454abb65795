# SPDX-License-Identifier: MIT
# What every package, the manual page and the release say of pagedrop,
# each read from the one file that holds it:
#   PAGEDROP_SUMMARY, PAGEDROP_DESCRIPTION  Debian's control file;
#   PAGEDROP_EPOCH (seconds), PAGEDROP_MANDATE ("December 10, 2026")  the
#       date of doc/changelog's first entry.
file(READ ${CMAKE_CURRENT_LIST_DIR}/debian/control control)
if(NOT control MATCHES "\nDescription: ([^\n]+)((\n [^\n]+)+)")
	message(FATAL_ERROR "packaging/debian/control: no Description")
endif()
set(PAGEDROP_SUMMARY "${CMAKE_MATCH_1}")
string(REPLACE "\n " "\n" text "${CMAKE_MATCH_2}")
# A line of a lone "." is a blank line between paragraphs.
string(REGEX REPLACE "\n\\.(\n|$)" "\n\\1" text "${text}")
string(SUBSTRING "${text}" 1 -1 PAGEDROP_DESCRIPTION)

file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../doc/changelog trailer REGEX "^ -- .*>  " LIMIT_COUNT 1)
set(months January February March April May June July August September October November December)
if(NOT trailer MATCHES ">  [A-Z][a-z][a-z], ([0-9]+) ([A-Z][a-z][a-z]) ([0-9]+) ([0-9]+):([0-9]+):([0-9]+) ([+-])([0-9][0-9])([0-9][0-9])$")
	message(FATAL_ERROR "doc/changelog: its first entry has no date as dpkg writes one: ${trailer}")
endif()
set(d ${CMAKE_MATCH_1})
set(y ${CMAKE_MATCH_3})
set(hms ${CMAKE_MATCH_4}*3600+${CMAKE_MATCH_5}*60+${CMAKE_MATCH_6})
set(zone ${CMAKE_MATCH_7}\(${CMAKE_MATCH_8}*3600+${CMAKE_MATCH_9}*60\))
string(REGEX MATCH "${CMAKE_MATCH_2}[a-z]*" month "${months}")
list(FIND months "${month}" m)
if(m LESS 0)
	message(FATAL_ERROR "doc/changelog: no month ${CMAKE_MATCH_2}: ${trailer}")
endif()
math(EXPR d "${d}")
set(PAGEDROP_MANDATE "${month} ${d}, ${y}")
# Days since 1970 of the civil date, counted in years from March, so that a
# leap day ends its year.
math(EXPR m "${m} + 1")
if(m LESS 3)
	math(EXPR y "${y} - 1")
	math(EXPR m "${m} + 9")
else()
	math(EXPR m "${m} - 3")
endif()
math(EXPR days "${y} * 365 + ${y} / 4 - ${y} / 100 + ${y} / 400 + (153 * ${m} + 2) / 5 + ${d} - 1 - 719468")
math(EXPR PAGEDROP_EPOCH "${days} * 86400 + ${hms} - ${zone}")
