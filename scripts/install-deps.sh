#!/bin/sh
# Installs the Debian 12 packages that building hearkener, tapd-emu and the
# test-call maker and running the demo (scripts/demo.sh) need: the
# compiler, CMake, pkg-config, the codec and ALSA development packages,
# sox (with its ALSA output) and espeak-ng. scripts/install-test-deps.sh
# installs the rest (tests, fuzzing, packaging, the Windows program).
# Idempotent; run as root.
set -eu
PACKAGES="cmake g++ make pkg-config \
  libgsm1-dev libspandsp-dev libbcg729-dev libavcodec-dev libavutil-dev \
  libasound2-dev sox libsox-fmt-alsa espeak-ng"
"$(dirname "$0")/install-packages.sh" $PACKAGES
