#!/usr/bin/env bash
# Starts or stops the network test servers of one build tree:
#   servers.sh start STATE_DIR WINE_RUN TRUST_CA_EXE
#   servers.sh stop  STATE_DIR
# start makes the test PKI (once), trusts its CA inside the Wine prefix, starts
# the scripted TLS server, nginx and an HTTP proxy (tinyproxy, its log naming
# every CONNECT) on free ports of 127.0.0.1 and writes
# STATE_DIR/servers.env (KEY=VALUE: ports, paths). Nothing outside STATE_DIR
# and the build tree's Wine prefix is touched.
set -euo pipefail
action=$1
mkdir -p "$2"
state=$(cd "$2" && pwd)  # nginx and Wine need absolute paths
here=$(cd "$(dirname "$0")" && pwd)
py=/usr/bin/python3

stop_pid() {  # stop_pid FILE
  if [ -s "$1" ]; then
    local pid
    pid=$(cat "$1")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    rm -f "$1"
  fi
}

free_port() {
  "$py" -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

case "$action" in
  start)
    wine_run=$3
    trust_ca=$4
    mkdir -p "$state"
    "$here/make_certs.sh" "$state/certs"
    "$wine_run" "$trust_ca" "Z:$state/certs/ca.der" </dev/null
    stop_pid "$state/tls_server.pid"
    stop_pid "$state/nginx/nginx.pid"
    stop_pid "$state/proxy/tinyproxy.pid"
    rm -f "$state/servers.env" "$state/scripted.env"
    mkdir -p "$state/www/site"
    "$py" "$here/tls_server.py" "$state/certs" "$state/scripted.env" "$state/requests.jsonl" "$state/www" \
      </dev/null >"$state/tls_server.log" 2>&1 &
    echo $! >"$state/tls_server.pid"
    mkdir -p "$state/www"
    printf 'hello from nginx\n' >"$state/www/hello.txt"
    nginx_port=$(free_port)
    "$here/nginx-site.sh" "$state/nginx" "$nginx_port" "$state/www" "$state/certs/server.crt" "$state/certs/server.key"
    proxy_port=$(free_port)
    mkdir -p "$state/proxy"
    : >"$state/proxy/tinyproxy.log"
    printf '%s\n' "Port $proxy_port" "Listen 127.0.0.1" "Allow 127.0.0.1" "Timeout 600" "MaxClients 50" \
      "LogFile \"$state/proxy/tinyproxy.log\"" "LogLevel Info" >"$state/proxy/tinyproxy.conf"
    tinyproxy -d -c "$state/proxy/tinyproxy.conf" </dev/null >/dev/null 2>&1 &
    echo $! >"$state/proxy/tinyproxy.pid"
    for _ in $(seq 100); do [ -s "$state/scripted.env" ] && break; sleep 0.1; done
    [ -s "$state/scripted.env" ] || { echo "tls_server did not start" >&2; cat "$state/tls_server.log" >&2; exit 1; }
    [ -s "$state/nginx/nginx.pid" ] || { echo "nginx did not start" >&2; cat "$state/nginx/logs/error.log" >&2; exit 1; }
    { cat "$state/scripted.env"
      echo "NGINX_PORT=$nginx_port"
      echo "NGINX_DIR=$state/nginx"
      echo "WWW_DIR=$state/www"
      echo "PROXY_PORT=$proxy_port"
      echo "PROXY_LOG=$state/proxy/tinyproxy.log"
      echo "CA_CERT=$state/certs/ca.crt"; } >"$state/servers.env.tmp"
    mv "$state/servers.env.tmp" "$state/servers.env"
    ;;
  stop)
    stop_pid "$state/proxy/tinyproxy.pid"
    stop_pid "$state/tls_server.pid"
    stop_pid "$state/nginx/nginx.pid"
    rm -f "$state/servers.env"
    ;;
  *)
    echo "usage: $0 start STATE_DIR WINE_RUN TRUST_CA_EXE | stop STATE_DIR" >&2
    exit 2
    ;;
esac
