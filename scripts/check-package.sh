#!/usr/bin/env bash
# Checks the .deb that `make package` made: what it holds (dpkg-deb -c), its dependencies on the
# libraries that only the transports module links, and lintian's verdict, which must have no
# error.
set -euo pipefail
dir=${1:?usage: check-package.sh PACKAGE_BUILD_DIR}
deb=$(ls -t "$dir"/fieldmeter_*.deb | head -n 1)
echo "check-package: $deb"
contents=$(dpkg-deb -c "$deb")
for path in ./usr/bin/fieldmeter ./usr/bin/fieldmeter-monitor \
            ./lib/systemd/system/fieldmeter-monitor.service \
            ./usr/lib/systemd/user/fieldmeter-monitor.service ./etc/fieldmeter/monitor.conf \
            ./usr/share/applications/fieldmeter.desktop \
            ./usr/share/icons/hicolor/256x256/apps/fieldmeter.png \
            ./usr/share/doc/fieldmeter/copyright ./usr/share/doc/fieldmeter/changelog.gz \
            ./usr/share/man/man1/fieldmeter.1.gz ./usr/share/man/man1/fieldmeter-monitor.1.gz; do
  if ! grep -q " $path\$" <<<"$contents"; then
    echo "check-package: $path is missing from the package" >&2
    exit 1
  fi
done
# The transports module, in the multiarch library folder, and the libraries it alone links.
if ! grep -qE " \./usr/lib/([^/]+/)?fieldmeter/fieldmeter-transports\.so\$" <<<"$contents"; then
  echo "check-package: the transports module is missing from the package" >&2
  exit 1
fi
depends=$(dpkg-deb -f "$deb" Depends)
echo "$depends"
for library in libmosquitto1 libcurl4; do
  if ! grep -qE "(^|, )$library( |,|\$)" <<<"$depends"; then
    echo "check-package: Depends lacks $library" >&2
    exit 1
  fi
done
lintian --fail-on error "$deb"
echo "check-package: passed"
