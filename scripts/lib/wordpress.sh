# A private WordPress on loopback with our interface script, for scripts/e2e-wordpress and
# scripts/demo. Source it from bash; the caller stops the processes listed in WP_PIDS.
#
#   wp_packages_missing                    prints the Debian packages still to install
#   wp_start DIR PORT LOGS TITLE [MAX_UPLOAD_BYTES]
#       MariaDB on a socket in DIR (no network), php's built-in server on 127.0.0.1:PORT with a
#       copy of /usr/share/wordpress in DIR/wp, installed without questions and emptied of its
#       sample posts, interface/wordpress/tarvex.php with a fresh secret. A DIR that already
#       holds such a WordPress is started again as it is (its posts, secret and password kept;
#       the site address follows PORT). Sets WP_DIR, WP_SITE, WP_SECRET, WP_POSTURL (the
#       interface address a module posts to), WP_ADMIN_PASSWORD and appends its processes to
#       WP_PIDS. Logs go to LOGS.
#   wp_category NAME                       prints the id of the category NAME (made when missing)
#   wp_install_plugin ZIP COOKIES          signs in as admin, uploads the plugin zip through
#       wp-admin's "上传插件" page, activates it and reads the interface address from its settings
#       page into WP_PLUGIN_POSTURL. COOKIES is a file for the session's cookies.

WP_PACKAGES=(wordpress mariadb-server php-cli php-mysql php-gd php-xml php-mbstring php-curl)
WP_PIDS=()

wp_packages_missing() {
  local p
  for p in "${WP_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

_wp_wait_for() { # command… : retried for 30 s
  local _
  for _ in $(seq 1 300); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  echo "wordpress: gave up waiting for: $*" >&2
  return 1
}

_wp_serve() { # port logs: php's built-in server on WP_DIR
  php -S "127.0.0.1:$1" -t "$WP_DIR" -d upload_max_filesize=64M -d post_max_size=64M \
    -d display_errors=stderr >"$2/php.log" 2>&1 &
  WP_PIDS+=($!)
  _wp_wait_for curl -sf "$WP_SITE/?rest_route=/"
}

wp_start() {
  local dir="$1" port="$2" logs="$3" title="$4" max_upload="${5:-}"
  mkdir -p "$dir" "$logs"
  local sock="$dir/mysql.sock" again=0
  [ -f "$dir/installed" ] && again=1
  if [ $again -eq 0 ]; then
    rm -rf "$dir/db" "$dir/wp"
    mariadb-install-db --no-defaults --datadir="$dir/db" --user="$(id -un)" \
      --auth-root-authentication-method=normal --skip-test-db >"$logs/mariadb-install.log" 2>&1
  fi
  mariadbd --no-defaults --skip-networking --datadir="$dir/db" --socket="$sock" --pid-file="$dir/mariadb.pid" \
    --user="$(id -un)" --log-error="$logs/mariadb.log" >"$logs/mariadb.out" 2>&1 &
  WP_PIDS+=($!)
  _wp_wait_for mariadb --no-defaults -S "$sock" -u root -e "select 1"

  WP_DIR="$dir/wp"
  WP_SITE="http://127.0.0.1:$port"
  if [ $again -eq 1 ]; then
    WP_SECRET="$(cat "$dir/secret")"
    WP_ADMIN_PASSWORD="$(cat "$dir/admin-password")"
    WP_POSTURL="$WP_SITE/tarvex.php?secret=$WP_SECRET"
    sed -i -e "s|^define('WP_HOME'.*|define('WP_HOME', '$WP_SITE');|" \
      -e "s|^define('WP_SITEURL'.*|define('WP_SITEURL', '$WP_SITE');|" "$WP_DIR/wp-config.php"
    _wp_serve "$port" "$logs"
    return
  fi
  mariadb --no-defaults -S "$sock" -u root -e \
    "CREATE DATABASE wp CHARACTER SET utf8mb4; CREATE USER 'wp'@'localhost' IDENTIFIED BY 'wp-password';
     GRANT ALL ON wp.* TO 'wp'@'localhost';"
  cp -rL /usr/share/wordpress "$WP_DIR"
  mkdir -p "$WP_DIR/wp-content/uploads"
  WP_SECRET="$(python3 -c 'import secrets; print(secrets.token_hex(20))')"
  WP_ADMIN_PASSWORD="$(python3 -c 'import secrets; print(secrets.token_urlsafe(12))')"
  WP_POSTURL="$WP_SITE/tarvex.php?secret=$WP_SECRET"
  # Debian's wp-config.php reads only /etc/wordpress; this copy gets its own.
  python3 - "$WP_DIR/wp-config.php" "$sock" "$WP_SITE" <<'PY'
import secrets, sys
path, sock, site = sys.argv[1:]
salts = "".join("define('%s', '%s');\n" % (k, secrets.token_hex(32)) for k in (
    "AUTH_KEY", "SECURE_AUTH_KEY", "LOGGED_IN_KEY", "NONCE_KEY",
    "AUTH_SALT", "SECURE_AUTH_SALT", "LOGGED_IN_SALT", "NONCE_SALT"))
open(path, "w").write("""<?php
define('DB_NAME', 'wp');
define('DB_USER', 'wp');
define('DB_PASSWORD', 'wp-password');
define('DB_HOST', 'localhost:%s');
define('DB_CHARSET', 'utf8mb4');
define('DB_COLLATE', '');
%s$table_prefix = 'wp_';
define('WP_HOME', '%s');
define('WP_SITEURL', '%s');
define('WP_AUTO_UPDATE_CORE', false);
define('AUTOMATIC_UPDATER_DISABLED', true);
define('DISABLE_WP_CRON', true);
define('FS_METHOD', 'direct');
define('WP_DEBUG', false);
if (!defined('ABSPATH')) define('ABSPATH', __DIR__ . '/');
require_once ABSPATH . 'wp-settings.php';
""" % (sock, salts, site, site))
PY
  cp interface/wordpress/tarvex.php "$WP_DIR/tarvex.php"
  {
    echo "<?php"
    echo "define('TARVEX_SECRET', '$WP_SECRET');"
    [ -z "$max_upload" ] || echo "define('TARVEX_MAX_UPLOAD_BYTES', $max_upload);"
  } >"$WP_DIR/tarvex-config.php"
  (cd "$WP_DIR" && php -d display_errors=stderr -r '
    define("WP_INSTALLING", true);
    $_SERVER["HTTP_HOST"] = parse_url($argv[1], PHP_URL_HOST) . ":" . parse_url($argv[1], PHP_URL_PORT);
    function wp_new_blog_notification() {}
    require "wp-load.php";
    require_once ABSPATH . "wp-admin/includes/upgrade.php";
    wp_install($argv[2], "admin", "admin@example.invalid", false, "", $argv[3]);
    foreach (get_posts(["post_type" => "any", "numberposts" => -1, "fields" => "ids"]) as $id) wp_delete_post($id, true);
  ' "$WP_SITE" "$title" "$WP_ADMIN_PASSWORD" 2>"$logs/wp-install.log") || {
    echo "wordpress: WordPress did not install (see $logs/wp-install.log)" >&2
    return 1
  }
  echo "$WP_SECRET" >"$dir/secret"
  echo "$WP_ADMIN_PASSWORD" >"$dir/admin-password"
  touch "$dir/installed"
  _wp_serve "$port" "$logs"
}

wp_category() {
  (cd "$WP_DIR" && php -d display_errors=stderr -r '
    $_SERVER["HTTP_HOST"] = parse_url($argv[1], PHP_URL_HOST) . ":" . parse_url($argv[1], PHP_URL_PORT);
    require "wp-load.php";
    $t = term_exists($argv[2], "category") ?: wp_insert_term($argv[2], "category");
    echo is_array($t) ? $t["term_id"] : $t;
  ' "$WP_SITE" "$1")
}

wp_install_plugin() {
  local zip="$1" jar="$2" page nonce activate
  rm -f "$jar"
  curl -s -o /dev/null -c "$jar" "$WP_SITE/wp-login.php"
  curl -s -o /dev/null -b "$jar" -c "$jar" -b "wordpress_test_cookie=WP%20Cookie%20check" \
    --data-urlencode "log=admin" --data-urlencode "pwd=$WP_ADMIN_PASSWORD" -d "testcookie=1" \
    "$WP_SITE/wp-login.php"
  page="$(curl -s -b "$jar" "$WP_SITE/wp-admin/plugin-install.php?tab=upload")"
  nonce="$(printf '%s' "$page" | grep -o 'name="_wpnonce" value="[0-9a-f]*"' | head -n 1 | sed 's/.*value="\([0-9a-f]*\)"/\1/')"
  [ -n "$nonce" ] || { echo "wordpress: no upload form in wp-admin (sign-in failed?)" >&2; return 1; }
  page="$(curl -s -b "$jar" -F "_wpnonce=$nonce" -F "_wp_http_referer=/wp-admin/plugin-install.php?tab=upload" \
    -F "pluginzip=@$zip;type=application/zip" -F "install-plugin-submit=Install Now" \
    "$WP_SITE/wp-admin/update.php?action=upload-plugin")"
  activate="$(printf '%s' "$page" | grep -o 'plugins.php?action=activate[^"]*' | head -n 1 | sed 's/&amp;/\&/g')"
  [ -n "$activate" ] || { echo "wordpress: the plugin upload was not accepted: $(printf '%s' "$page" | sed 's/<[^>]*>//g' | grep -v '^\s*$' | tail -n 5)" >&2; return 1; }
  curl -s -o /dev/null -b "$jar" "$WP_SITE/wp-admin/$activate"
  page="$(curl -s -b "$jar" "$WP_SITE/wp-admin/options-general.php?page=tarvex-publisher")"
  WP_PLUGIN_POSTURL="$(printf '%s' "$page" | grep -o 'id="tarvex-url-utf8"[^>]*value="[^"]*"' | sed 's/.*value="\([^"]*\)"/\1/' | sed 's/&amp;/\&/g; s/&#038;/\&/g')"
  [ -n "$WP_PLUGIN_POSTURL" ] || { echo "wordpress: the plugin's settings page shows no interface address" >&2; return 1; }
}
