# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# Sourced by packaging/buildroot.sh and tests/kernels.sh.
# aptdir DIR ARCH: sets apt, the options that give apt-get DIR for its
# sources (DIR/sources.list, which the caller writes), lists, cache and an
# empty status, for ARCH; this machine's apt is left untouched.
# shellcheck disable=SC2034 # apt is the caller's.
aptdir() {
	mkdir -p "$1/lists/partial" "$1/archives/partial" "$1/none"
	touch "$1/status"
	apt=(-o Dir::Etc::sourcelist="$1/sources.list" -o Dir::Etc::sourceparts="$1/none"
	    -o Dir::Etc::preferencesparts="$1/none" -o Dir::State="$1" -o Dir::State::status="$1/status"
	    -o Dir::Cache="$1" -o APT::Architecture="$2" -o APT::Sandbox::User="$(id -un)")
}
