#!/usr/bin/env bash
# Starts nginx on 127.0.0.1 only, TLS 1.2, with its configuration, pid, logs,
# temp files and cache in DIR:
#   nginx-site.sh DIR PORT ROOT CERT KEY
#       a static HTTPS site, as a studio's origin server: the manifest
#       (manifest.md5 anywhere) and its signature (manifest.md5.sig) are never cached;
#   nginx-site.sh --edge DIR PORT ORIGIN_PORT CERT KEY CA
#       the caching edge of docs/deploying.md, taken from the guide as written
#       (only addresses, certificates and the cache folder swapped), in front of
#       the origin on 127.0.0.1:ORIGIN_PORT (certificate for localhost, signed by CA).
# DIR/nginx.pid holds its pid (stop it with kill). NGINX_WORKERS and
# NGINX_CONNECTIONS (default 1 and 64) size it for the load benchmark.
set -euo pipefail
mode=origin
if [ "$1" = --edge ]; then mode=edge; shift; fi
dir=$1 port=$2
mkdir -p "$dir/logs" "$dir/temp"

origin_site() {  # ROOT CERT KEY
  cat <<CONF
  sendfile on;
  server {
    listen 127.0.0.1:$port ssl;
    server_name localhost;
    ssl_certificate $2;
    ssl_certificate_key $3;
    ssl_protocols TLSv1.2;
    root $1;
    location ~ /manifest\.md5(\.sig)?\$ { add_header Cache-Control "no-store" always; }
  }
CONF
}

edge_site() {  # ORIGIN_PORT CERT KEY CA
  local guide block
  guide="$(dirname "$0")/../../docs/deploying.md"
  block=$(awk '/^```nginx$/ { on = 1; text = ""; next }
               on && /^```$/ { on = 0; if (text ~ /proxy_cache_path/) printf "%s", text; next }
               on { text = text $0 "\n" }' "$guide")
  [ -n "$block" ] || { echo "no edge block in $guide" >&2; exit 1; }
  block=$(sed -e "s|^\( *\)listen 443 ssl;|\1listen 127.0.0.1:$port ssl;|" -e '/listen \[::\]:443/d' \
              -e "s|^\( *\)ssl_certificate .*;|\1ssl_certificate $2;|" \
              -e "s|^\( *\)ssl_certificate_key .*;|\1ssl_certificate_key $3;|" \
              -e "s|^\( *\)ssl_protocols .*;|\1ssl_protocols TLSv1.2;|" \
              -e "s|^\( *\)proxy_ssl_trusted_certificate .*;|\1proxy_ssl_trusted_certificate $4;|" \
              -e "s|/var/cache/nginx/zerandis|$dir/cache|" \
              -e "s|patch-origin\.example-studio\.com:443|127.0.0.1:$1|" \
              -e "s|patch-origin\.example-studio\.com|localhost|g" <<<"$block")
  if grep -v '^ *#' <<<"$block" | grep -q '/etc/\|/var/\|:443'; then
    echo "the guide's edge block has a machine-specific line this script does not swap" >&2; exit 1
  fi
  printf '%s\n' "$block"
}

if [ $mode = edge ]; then site=$(edge_site "$3" "$4" "$5" "$6"); else site=$(origin_site "$3" "$4" "$5"); fi
cat >"$dir/nginx.conf" <<CONF
daemon on;
user root;
worker_processes ${NGINX_WORKERS:-1};
pid $dir/nginx.pid;
error_log $dir/logs/error.log warn;
events { worker_connections ${NGINX_CONNECTIONS:-64}; }
http {
  access_log $dir/logs/access.log;
  client_body_temp_path $dir/temp/body;
  proxy_temp_path $dir/temp/proxy;
  fastcgi_temp_path $dir/temp/fastcgi;
  uwsgi_temp_path $dir/temp/uwsgi;
  scgi_temp_path $dir/temp/scgi;
  default_type application/octet-stream;
  gzip off;
$site
}
CONF
nginx -e "$dir/logs/error.log" -p "$dir" -c "$dir/nginx.conf" </dev/null >/dev/null 2>&1
