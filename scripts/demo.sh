#!/usr/bin/env bash
# The main job: quillgate with a sample command line.
set -euo pipefail
bin=$1
echo "quillgate -d -g abc -h 127.0.0.1:9000 -z 1 parses to:"
"$bin/quillgate" -d -g abc -h 127.0.0.1:9000 -z 1
