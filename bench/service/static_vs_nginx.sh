#!/usr/bin/env bash
# Over loopback HTTPS, halvora-service against nginx, same files, same certificate, rounds
# interleaved: a 256 MiB archive (MiB/s, curl), then a 100 KB file (requests/s, 8 keep-alive
# clients of bench_http, 5 s a round). Installs Debian's nginx-light when no nginx is there.
# usage: bench/service/static_vs_nginx.sh BUILD_DIR [MIB] [ROUNDS]
set -euo pipefail
build=${1:?usage: static_vs_nginx.sh BUILD_DIR [MIB] [ROUNDS]}
mib=${2:-256}
rounds=${3:-3}
service="$build/bin/halvora-service"
bench_http="$build/bench/service/bench_http"
[ -x "$service" ] || { echo "no $service; build it first" >&2; exit 1; }
[ -x "$bench_http" ] || { echo "no $bench_http; build it first (HALVORA_BUILD_BENCH=ON)" >&2; exit 1; }
if ! command -v nginx >/dev/null && [ ! -x /usr/sbin/nginx ]; then
    if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends nginx-light
fi
nginx=$(command -v nginx || echo /usr/sbin/nginx)

tmp=$(mktemp -d)
svc_pid=
nginx_pid=
cleanup() {
    [ -n "$svc_pid" ] && kill "$svc_pid" 2>/dev/null || true
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT

openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 \
    -keyout "$tmp/key.pem" -out "$tmp/cert.pem" -subj /CN=127.0.0.1 \
    -addext subjectAltName=IP:127.0.0.1 2>/dev/null
mkdir -p "$tmp/site/update/components" "$tmp/nginx"
head -c "$((mib << 20))" /dev/urandom >"$tmp/site/update/components/big.tar.gz"
head -c 100000 /dev/urandom >"$tmp/site/update/components/small.tar.gz"
# nginx's workers run as another user when it is started as root.
chmod -R a+rX "$tmp"

"$service" --site "$tmp/site" --db "$tmp/feedback.db" --listen 127.0.0.1:0 \
    --tls-cert "$tmp/cert.pem" --tls-key "$tmp/key.pem" 2>"$tmp/service.log" &
svc_pid=$!
for _ in $(seq 100); do
    svc_port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$tmp/service.log")
    [ -n "$svc_port" ] && break
    sleep 0.1
done
[ -n "$svc_port" ] || { cat "$tmp/service.log" >&2; exit 1; }

nginx_port=$((20000 + RANDOM % 20000))
cat >"$tmp/nginx.conf" <<CONF
daemon off;
worker_processes auto;
pid $tmp/nginx/nginx.pid;
error_log $tmp/nginx/error.log;
events { worker_connections 64; }
http {
    access_log off;
    sendfile on;
    client_body_temp_path $tmp/nginx/body;
    proxy_temp_path $tmp/nginx/proxy;
    fastcgi_temp_path $tmp/nginx/fastcgi;
    uwsgi_temp_path $tmp/nginx/uwsgi;
    scgi_temp_path $tmp/nginx/scgi;
    default_type application/octet-stream;
    server {
        listen 127.0.0.1:$nginx_port ssl;
        ssl_certificate $tmp/cert.pem;
        ssl_certificate_key $tmp/key.pem;
        ssl_protocols TLSv1.2 TLSv1.3;
        root $tmp/site;
    }
}
CONF
"$nginx" -p "$tmp/nginx" -c "$tmp/nginx.conf" &
nginx_pid=$!
for _ in $(seq 100); do
    curl -sk -o /dev/null "https://127.0.0.1:$nginx_port/" && break || sleep 0.1
done

fetch() { # URL -> MiB/s
    curl -sk --fail -o /dev/null -w '%{speed_download}\n' "$1" | awk '{ printf "%.1f", $1 / 1048576 }'
}
path=/update/components/big.tar.gz
best_svc=0
best_nginx=0
for r in $(seq "$rounds"); do
    s=$(fetch "https://127.0.0.1:$svc_port$path")
    n=$(fetch "https://127.0.0.1:$nginx_port$path")
    echo "round $r: halvora-service $s MiB/s, nginx $n MiB/s"
    best_svc=$(awk -v a="$best_svc" -v b="$s" 'BEGIN { print (b > a) ? b : a }')
    best_nginx=$(awk -v a="$best_nginx" -v b="$n" 'BEGIN { print (b > a) ? b : a }')
done
echo "best of $rounds, $mib MiB over loopback HTTPS: halvora-service $best_svc MiB/s," \
    "nginx $best_nginx MiB/s, ratio $(awk -v a="$best_svc" -v b="$best_nginx" 'BEGIN { printf "%.2f", a / b }')"

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"
small=/update/components/small.tar.gz
best_svc=0
best_nginx=0
for r in $(seq "$rounds"); do
    s=$("$bench_http" rps "$svc_port" "$small" 5 8)
    n=$("$bench_http" rps "$nginx_port" "$small" 5 8)
    echo "round $r: 100 KB file, 8 keep-alive clients: halvora-service $s req/s, nginx $n req/s"
    best_svc=$(awk -v a="$best_svc" -v b="$s" 'BEGIN { print (b > a) ? b : a }')
    best_nginx=$(awk -v a="$best_nginx" -v b="$n" 'BEGIN { print (b > a) ? b : a }')
done
echo "best of $rounds, 100 KB over loopback HTTPS: halvora-service $best_svc req/s," \
    "nginx $best_nginx req/s, ratio $(awk -v a="$best_svc" -v b="$best_nginx" 'BEGIN { printf "%.2f", a / b }');" \
    "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
