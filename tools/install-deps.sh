#!/bin/sh
# Installs what building and testing need, on Debian; does nothing when all
# of it is there already.
set -eu
# libgnutls30: Wine's Schannel loads it at run time, and it is only a
# Recommends of libwine, which --no-install-recommends leaves out.
packages="cmake ninja-build g++ make libgtest-dev python3 python3-aiosmtpd iproute2 util-linux hostname
  g++-mingw-w64-x86-64 wine wine64 libgnutls30 clang clang-format libclang-rt-14-dev
  mandoc nsis lintian dpkg-dev file php-cli php-symfony-mailer php-swiftmailer s-nail
  libssl-dev openssl sasl2-bin libsasl2-modules nlohmann-json3-dev"
missing=""
for package in $packages; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
    missing="$missing $package"
done
[ -z "$missing" ] && exit 0
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends $missing
