#!/usr/bin/env bash
# Prints the configuration of a private session bus whose only services folder is the one given,
# for dbus-run-session --config-file: the demo and the package tests start the component from it
# and leave the person's own session bus alone.
#   scripts/session-bus-config.sh SERVICES_FOLDER > session.conf
set -euo pipefail
cat <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <servicedir>$1</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
