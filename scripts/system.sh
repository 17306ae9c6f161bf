# The whole system on this machine, for run-demo and run-load; sourced, not
# run. Everything lives in the directory $work (made by the caller), every
# process started is recorded and stopped by system_stop_all (bounded: SIGTERM,
# then SIGKILL after 10 s).
#
#   system_start_swtpm NAME     a software TPM with EK certificates on free
#                               loopback ports: sets swtpm_pid, swtpm_port and
#                               TPM2TOOLS_TCTI
#   system_measured_boot BOOTLOG  writes $work/binary_bios_measurements with
#                               tools/bootlog and extends it into the TPM
#   system_make_tls NAME        $work/ca.pem, server.pem and server.key for
#                               127.0.0.1
#   system_make_tokens ADMIN READER  $work/admin.token, reader.token (0600) and
#                               the token file $work/tokens naming those principals
#   system_start_trustd BINARY  trustd on $work/trustd.json, its log appended
#                               to $work/trustd.log: sets trustd_pid and
#                               trustd_url (https://127.0.0.1:<port>)
#   system_stop_all

swtpm_pid=
trustd_pid=

system_stop_all() {
  local pid
  for pid in "$trustd_pid" "$swtpm_pid"; do
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
      kill -TERM "$pid" 2>/dev/null || true
      for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      kill -KILL "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
  done
  trustd_pid= swtpm_pid=
}

# Two adjacent free loopback ports (swtpm serves on P, its control on P+1).
system_free_port_pair() {
  python3 - <<'PY'
import socket
for _ in range(100):
    a = socket.socket(); a.bind(("127.0.0.1", 0)); port = a.getsockname()[1]
    b = socket.socket()
    try:
        b.bind(("127.0.0.1", port + 1))
    except OSError:
        a.close(); continue
    a.close(); b.close(); print(port); break
PY
}

system_start_swtpm() {
  local name=$1
  mkdir -p "$work/tpm/ca" "$work/tpm/state"
  cat >"$work/tpm/swtpm_setup.conf" <<CONF
create_certs_tool = /usr/bin/swtpm_localca
create_certs_tool_config = $work/tpm/swtpm-localca.conf
create_certs_tool_options = $work/tpm/swtpm-localca.options
CONF
  cat >"$work/tpm/swtpm-localca.conf" <<CONF
statedir = $work/tpm/ca
signingkey = $work/tpm/ca/signkey.pem
issuercert = $work/tpm/ca/issuercert.pem
certserial = $work/tpm/ca/certserial
CONF
  printf -- '--platform-manufacturer %s\n--platform-version 1.0\n--platform-model swtpm\n' "$name" \
    >"$work/tpm/swtpm-localca.options"
  swtpm_setup --tpm2 --tpm-state "$work/tpm/state" --create-ek-cert --pcr-banks sha256,sha384 \
    --config "$work/tpm/swtpm_setup.conf" --logfile "$work/tpm/setup.log" >/dev/null 2>&1
  swtpm_port=$(system_free_port_pair)
  swtpm socket --tpm2 --tpmstate "dir=$work/tpm/state" \
    --server "type=tcp,port=$swtpm_port,bindaddr=127.0.0.1" \
    --ctrl "type=tcp,port=$((swtpm_port + 1)),bindaddr=127.0.0.1" \
    --flags not-need-init,startup-clear --log "file=$work/tpm/swtpm.log" &
  swtpm_pid=$!
  export TPM2TOOLS_TCTI="swtpm:host=127.0.0.1,port=$swtpm_port"
  for _ in $(seq 100); do tpm2_getcap properties-fixed >/dev/null 2>&1 && return 0; sleep 0.05; done
  echo "swtpm did not come up" >&2
  return 1
}

system_measured_boot() {
  "$1" --output "$work/binary_bios_measurements" >"$work/measurements"
  local measurement
  while read -r measurement; do tpm2_pcrextend "$measurement"; done <"$work/measurements"
}

system_make_tls() {
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 -subj "/CN=$1 CA" \
    -keyout "$work/ca.key" -out "$work/ca.pem" 2>/dev/null
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=127.0.0.1" \
    -keyout "$work/server.key" -out "$work/server.csr" 2>/dev/null
  openssl x509 -req -in "$work/server.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -CAcreateserial -days 1 \
    -extfile <(printf 'subjectAltName=IP:127.0.0.1\n') -out "$work/server.pem" 2>/dev/null
}

system_make_tokens() {
  (
    umask 077
    openssl rand -hex 24 | tr -d '\n' >"$work/admin.token"
    openssl rand -hex 24 | tr -d '\n' >"$work/reader.token"
    printf 'sha256:%s %s admin\nsha256:%s %s reader\n' \
      "$(sha256sum <"$work/admin.token" | cut -d' ' -f1)" "$1" \
      "$(sha256sum <"$work/reader.token" | cut -d' ' -f1)" "$2" >"$work/tokens"
  )
}

system_start_trustd() {
  local before
  before=$(grep -c 'listening on' "$work/trustd.log" 2>/dev/null || true)
  "$1" --config "$work/trustd.json" 2>>"$work/trustd.log" &
  trustd_pid=$!
  local line=
  for _ in $(seq 200); do
    if [ "$(grep -c 'listening on' "$work/trustd.log")" -gt "${before:-0}" ]; then
      line=$(grep -o 'listening on https://[0-9.]*:[0-9]*' "$work/trustd.log" | tail -1)
      trustd_url=${line#listening on }
      return 0
    fi
    kill -0 "$trustd_pid" 2>/dev/null || break
    sleep 0.05
  done
  echo "trustd did not start:" >&2
  cat "$work/trustd.log" >&2
  return 1
}
