#!/usr/bin/env bash
# Makes a signing key for one CI run in DIR: run.key (encrypted with the passphrase in
# DIR/passphrase) and run.pub. Builds made to trust it are for that run only; a release trusts
# the publisher's own key.
#   scripts/make-run-key.sh DIR
set -euo pipefail
keys=$1
rm -rf "$keys" && mkdir -p "$keys" && chmod 700 "$keys"
echo "passphrase of run $$" > "$keys/passphrase"
openssl ecparam -name prime256v1 -genkey -noout |
  openssl pkcs8 -topk8 -v2 aes-256-cbc -passout "file:$keys/passphrase" -out "$keys/run.key"
openssl pkey -in "$keys/run.key" -passin "file:$keys/passphrase" -pubout -out "$keys/run.pub"
