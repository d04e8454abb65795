# SPDX-License-Identifier: MIT
# The packages CPack makes from a build: a Debian package and, where rpmbuild
# is found, an RPM, each labelled for the architecture that the compiler
# builds for; the source tarball; and the release target, which makes all of
# them for every architecture in the list beside this file, and
# release-sign, which signs a release made before.

# The target's Debian and RPM names, found by the compiler's triple in the
# list; a compiler not in it leaves CPack's defaults, which are the host's.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dumpmachine
	OUTPUT_VARIABLE triple OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
# clang names a vendor (x86_64-pc-linux-gnu) where gcc names none.
string(REGEX REPLACE "^([^-]+)-(pc|unknown)-" "\\1-" triple "${triple}")
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/arches arches REGEX "^[^#]")
foreach(line IN LISTS arches)
	string(REGEX MATCHALL "[^ \t]+" f "${line}")
	list(GET f 1 t)
	if(t STREQUAL triple)
		list(GET f 0 PAGEDROP_DEB_ARCH)
		list(GET f 6 PAGEDROP_RPM_ARCH)
	endif()
endforeach()
if(PAGEDROP_DEB_ARCH)
	set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${PAGEDROP_DEB_ARCH})
	set(CPACK_SYSTEM_NAME linux-${PAGEDROP_DEB_ARCH})
else()
	message(STATUS "pagedrop: ${triple} is not in packaging/arches; packages take the host's architecture")
endif()
if(PAGEDROP_RPM_ARCH AND NOT PAGEDROP_RPM_ARCH STREQUAL "-")
	set(CPACK_RPM_PACKAGE_ARCHITECTURE ${PAGEDROP_RPM_ARCH})
endif()

# A static binary holds the C library, which a Debian package names in
# Built-Using. A cross toolchain's libc6-dev-ARCH-cross has a version of its
# own and names the glibc it holds in its own Built-Using field. The field
# is written to built-using in the build folder, for debian/rules too.
set(builtusing "")
if(PAGEDROP_STATIC AND HAVE_STATIC_LIBC)
	execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libc.a
		OUTPUT_VARIABLE libca OUTPUT_STRIP_TRAILING_WHITESPACE)
	file(REAL_PATH "${libca}" libca)
	execute_process(COMMAND dpkg-query -S ${libca}
		OUTPUT_VARIABLE owner RESULT_VARIABLE rc ERROR_QUIET)
	if(rc EQUAL 0)
		string(REGEX REPLACE ": .*" "" owner "${owner}")
		execute_process(COMMAND dpkg-query -W
			-f "\${Built-Using}\n\${source:Package} (= \${source:Version})\n" ${owner}
			OUTPUT_VARIABLE fields ERROR_QUIET)
		string(REGEX MATCH "glibc \\(= [^)]+\\)" builtusing "${fields}")
	endif()
	if(NOT builtusing)
		message(STATUS "pagedrop: no Debian package owns ${libca}; the .deb names no Built-Using")
	endif()
endif()
set(CPACK_PAGEDROP_BUILT_USING "${builtusing}")
file(WRITE ${CMAKE_BINARY_DIR}/built-using "${builtusing}")

# What lintian and rpmlint rightly say of the binary depends on how the
# configure probes found it could be linked; the notes that answer them are
# picked to match, so that each package's checks come out clean alone. Of
# lintian's, only the paragraph whose tag fits goes to lintian-overrides in
# the build folder, for CPack and debian/rules: lintian reports an override
# that nothing used.
file(READ ${CMAKE_CURRENT_LIST_DIR}/rpmlintrc rpmlintrc)
set(tag "")
if(PAGEDROP_STATIC AND HAVE_STATIC_PIE)
	set(tag shared-library-lacks-prerequisites)
elseif(PAGEDROP_STATIC AND HAVE_STATIC_LIBC)
	set(tag statically-linked-binary)
	string(APPEND rpmlintrc "
# This toolchain's static C library has no rcrt1.o, the start file that
# relocates a static binary, so the binary cannot be PIE and its text stays
# at a fixed address.
addFilter(\"position-independent-executable-suggested /usr/bin/pagedrop\")
")
endif()
set(CPACK_PAGEDROP_LINTIAN_OVERRIDES ${CMAKE_BINARY_DIR}/lintian-overrides)
file(REMOVE ${CPACK_PAGEDROP_LINTIAN_OVERRIDES})
if(tag)
	file(READ ${CMAKE_CURRENT_LIST_DIR}/lintian-overrides text)
	string(REPLACE ";" "\\;" text "${text}")
	string(REPLACE "\n\n" ";" paragraphs "${text}")
	set(keep "")
	foreach(p IN LISTS paragraphs)
		if(p MATCHES "\npagedrop: ${tag} ")
			string(STRIP "${p}" keep)
		endif()
	endforeach()
	if(NOT keep)
		message(FATAL_ERROR "packaging/lintian-overrides has no paragraph for ${tag}")
	endif()
	file(WRITE ${CPACK_PAGEDROP_LINTIAN_OVERRIDES} "${keep}\n")
endif()
set(RPMLINTRC ${CMAKE_BINARY_DIR}/rpmlintrc)
file(WRITE ${RPMLINTRC} "${rpmlintrc}")
include(${CMAKE_CURRENT_LIST_DIR}/rpmlint.cmake)

set(PAGEDROP_MAINTAINER "The pagedrop developers <pagedrop-devel@example.org>"
	CACHE STRING "Maintainer named in the packages")
# Where the release folder is published: the PKGBUILD downloads the source
# tarball from there. pagedrop.invalid holds its place.
set(PAGEDROP_URL "https://pagedrop.invalid"
	CACHE STRING "Address of the release folder")
set(CPACK_PACKAGE_CONTACT ${PAGEDROP_MAINTAINER})
set(CPACK_PACKAGE_VENDOR "The pagedrop developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PAGEDROP_SUMMARY}")
set(CPACK_PACKAGE_DESCRIPTION "${PAGEDROP_DESCRIPTION}")
set(CPACK_GENERATOR DEB)
find_program(RPMBUILD rpmbuild)
if(RPMBUILD AND CPACK_RPM_PACKAGE_ARCHITECTURE)
	list(APPEND CPACK_GENERATOR RPM)
endif()
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
	OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
set(CPACK_RPM_PACKAGE_RELEASE 1)
set(CPACK_RPM_PACKAGE_LICENSE MIT)
string(SUBSTRING "${PAGEDROP_SUMMARY}" 0 1 first)
string(SUBSTRING "${PAGEDROP_SUMMARY}" 1 -1 rest)
string(TOUPPER "${first}" first)
set(CPACK_RPM_PACKAGE_SUMMARY "${first}${rest}")
set(CPACK_PACKAGE_RELOCATABLE OFF)
set(CPACK_RPM_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
# The system's own folders, which the filesystem package owns, the shells'
# completion folders among them (Fedora's, as its guidelines have them).
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
	/usr/${CMAKE_INSTALL_MANDIR} /usr/${CMAKE_INSTALL_MANDIR}/man1)
foreach(d IN ITEMS ${PAGEDROP_BASH_COMPLETIONS_DIR} ${PAGEDROP_ZSH_COMPLETIONS_DIR} ${PAGEDROP_FISH_COMPLETIONS_DIR})
	get_filename_component(parent ${d} DIRECTORY)
	list(APPEND CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION /usr/${parent} /usr/${d})
endforeach()
# A static-pie binary is ELF DYN with a GNU hash table, for which rpmbuild
# asks rtld(GNU_HASH) of glibc; the kernel loads it, with no ld.so at all.
# The build host, its clock and its rpmbuild's own post-install scripts
# (which strip and compress with host tools that know no foreign binary)
# stay out of the package: CPack has stripped the binary already and the
# pre-build script compresses the manual page.
# rpm 4.20 (Debian 13's) names the clamping of file times otherwise, and
# warns of the old name.
set(mtime "%define clamp_mtime_to_source_date_epoch 1")
if(RPMBUILD)
	execute_process(COMMAND ${RPMBUILD} --version OUTPUT_VARIABLE rpmversion ERROR_QUIET)
	if(rpmversion MATCHES "([0-9]+\\.[0-9]+)" AND CMAKE_MATCH_1 VERSION_GREATER_EQUAL 4.20)
		set(mtime "%define build_mtime_policy clamp_to_source_date_epoch")
	endif()
endif()
set(CPACK_RPM_SPEC_MORE_DEFINE "%define _buildhost reproducible
%define packager ${PAGEDROP_MAINTAINER}
%define use_source_date_epoch_as_buildtime 1
${mtime}
%define _build_id_links none
%define __os_install_post %{nil}
%global __requires_exclude ^rtld")

set(CPACK_PAGEDROP_ZSH_DIR ${PAGEDROP_ZSH_COMPLETIONS_DIR})
set(CPACK_PAGEDROP_DEBIAN_ZSH_DIR ${PAGEDROP_DEBIAN_ZSH_DIR})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/prebuild.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/postbuild.cmake)
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION})
# Left out of the source tarball: the build folder, and the one that a
# release in the build root is made in, where that is in the tree.
set(PAGEDROP_RELEASE_BUILD "" CACHE PATH "The release's build folder, where it is another")
set(CPACK_PAGEDROP_BUILD_DIR ${CMAKE_BINARY_DIR} ${PAGEDROP_RELEASE_BUILD})
set(CPACK_PAGEDROP_EPOCH ${PAGEDROP_EPOCH})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/srcpkg.cmake)
include(CPack)

# A published release's buildinfo makes the build root of exactly the
# packages it names (packaging/buildroot.sh).
set(PAGEDROP_BUILDINFO "" CACHE FILEPATH "The buildinfo whose packages the release is built with")
if(PAGEDROP_BUILDINFO)
	set(releaseenv ${CMAKE_COMMAND} -E env PAGEDROP_BUILDINFO=${PAGEDROP_BUILDINFO})
endif()
set(release ${releaseenv} bash ${CMAKE_CURRENT_LIST_DIR}/release.sh ${CMAKE_SOURCE_DIR}
	${CMAKE_BINARY_DIR} ${PROJECT_VERSION} ${PAGEDROP_EPOCH} ${PAGEDROP_MAINTAINER} ${PAGEDROP_URL})
add_custom_target(release COMMAND ${release} USES_TERMINAL VERBATIM)
# Signs a release made before, with PAGEDROP_SIGNING_KEY.
add_custom_target(release-sign COMMAND ${release} check sign USES_TERMINAL VERBATIM)
