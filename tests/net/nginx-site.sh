#!/usr/bin/env bash
# Starts nginx as a static HTTPS site on 127.0.0.1 only, TLS 1.2, with its
# configuration, pid, logs and temp files in DIR:
#   nginx-site.sh DIR PORT ROOT CERT KEY
# DIR/nginx.pid holds its pid (stop it with kill). The manifest (manifest.md5
# anywhere) and its signature (manifest.md5.sig) are never cached, as a
# studio's server should do.
set -euo pipefail
dir=$1 port=$2 www=$3 cert=$4 key=$5
mkdir -p "$dir/logs" "$dir/temp"
cat >"$dir/nginx.conf" <<CONF
daemon on;
user root;
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/logs/error.log warn;
events { worker_connections 64; }
http {
  access_log $dir/logs/access.log;
  client_body_temp_path $dir/temp/body;
  proxy_temp_path $dir/temp/proxy;
  fastcgi_temp_path $dir/temp/fastcgi;
  uwsgi_temp_path $dir/temp/uwsgi;
  scgi_temp_path $dir/temp/scgi;
  default_type application/octet-stream;
  sendfile on;
  gzip off;
  server {
    listen 127.0.0.1:$port ssl;
    server_name localhost;
    ssl_certificate $cert;
    ssl_certificate_key $key;
    ssl_protocols TLSv1.2;
    root $www;
    location ~ /manifest\.md5(\.sig)?\$ { add_header Cache-Control "no-store" always; }
  }
}
CONF
nginx -e "$dir/logs/error.log" -p "$dir" -c "$dir/nginx.conf" </dev/null >/dev/null 2>&1
