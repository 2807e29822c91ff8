<?php
/**
 * Tarvex采集器 interface script for WordPress.
 *
 * Two ways to install it:
 *  - as the WordPress plugin "tarvex-publisher" (this file inside the plugin's folder): the
 *    plugin makes the secret and its settings page shows the address to paste into the module;
 *  - as a plain script: this file and tarvex-config.php (made from tarvex-config-sample.php) in
 *    the WordPress root folder, beside wp-load.php. The publish module's address is then
 *        http://your.site/tarvex.php?secret=YOUR_SECRET            (UTF-8 module, "charset=1")
 *        http://your.site/tarvex.php?secret=YOUR_SECRET&charset=gbk (GBK module, "charset=0")
 *
 * Operations (form field "tarvex"):
 *   AddInfo        publish one record: title, content, category, thumb, source, and optionally
 *                  tags, excerpt, author, status, date; inline attachments as upload_name[],
 *                  upload_newurl[], upload_file[]. Idempotent on "tarvex_key" (the program's
 *                  stable key of the record for this site; without one, on "source"): a record
 *                  already on the site is answered "succ|" + its post id and changes nothing.
 *   upall          store every attached file (upload_newurl[] + upload_file[])
 *   upsingle       store one attached file
 *   upsingle_part  one piece of a file ("parts", "part"), accepted only in order and only up
 *                  to TARVEX_MAX_UPLOAD_BYTES in all; the file appears when the last piece came
 *   GetAllClass    the category list: "@@@<br/>" then "name###id###parent<br/>" per category
 *
 * Every reply is plain text, "succ|…" or "fail|…" (with an error status for failures). Files are
 * stored only under WordPress's uploads folder, at the path of their address (upload_newurl[])
 * below the uploads address; "..", hidden names, backslashes and every executable or
 * server-side extension are refused wherever they stand in the name; an image must have an
 * image's bytes; a file never replaces a different file that is already there.
 */

declare(strict_types=1);

/** Inside the plugin WordPress is loaded and TARVEX_SECRET defined before this file is read. */
$tarvex_embedded = defined('ABSPATH') && defined('TARVEX_EMBEDDED');
if (!$tarvex_embedded && defined('ABSPATH')) {
    exit; // read by WordPress in some other way (the plugin folder scanned): nothing to do
}

ob_start();

/**
 * The form as the client sent it. WordPress adds slashes to $_POST when it loads; the plain
 * script keeps a copy from before, the plugin takes the slashes off again.
 */
$tarvex_post = $GLOBALS['tarvex_post'] = $tarvex_embedded ? wp_unslash($_POST) : $_POST;

// The plugin reads this file inside a function: the values the functions below share are put
// into $GLOBALS by name. Whether the module talks GBK ("&charset=gbk" in the address):
$tarvex_gbk = $GLOBALS['tarvex_gbk'] = isset($_GET['charset']) && is_string($_GET['charset'])
    && in_array(strtolower($_GET['charset']), ['gbk', 'gb2312', 'gb18030', 'cp936'], true);

/** Ends the request with a status and a text, in the module's charset. */
function tarvex_reply(int $status, string $text): void
{
    global $tarvex_gbk;
    while (ob_get_level() > 0) {
        ob_end_clean();
    }
    http_response_code($status);
    header('Content-Type: text/plain; charset=' . ($tarvex_gbk ? 'GBK' : 'UTF-8'));
    header('X-Content-Type-Options: nosniff');
    header('Cache-Control: no-store');
    echo $tarvex_gbk ? tarvex_to_gbk($text) : $text;
    exit;
}

function tarvex_fail(int $status, string $why): void
{
    tarvex_reply($status, 'fail|' . $why);
}

function tarvex_to_gbk(string $utf8): string
{
    $out = function_exists('iconv') ? @iconv('UTF-8', 'GB18030//IGNORE', $utf8) : false;
    return $out !== false ? $out : mb_convert_encoding($utf8, 'GB18030', 'UTF-8');
}

/** A form value as UTF-8: GBK when the module says so or when the bytes are no UTF-8. */
function tarvex_text(string $bytes): string
{
    global $tarvex_gbk;
    if (!$tarvex_gbk && mb_check_encoding($bytes, 'UTF-8')) {
        return $bytes;
    }
    $out = function_exists('iconv') ? @iconv('GB18030', 'UTF-8//IGNORE', $bytes) : false;
    return $out !== false ? $out : mb_convert_encoding($bytes, 'UTF-8', 'GB18030');
}

function tarvex_field(string $name): string
{
    global $tarvex_post;
    $v = $tarvex_post[$name] ?? '';
    return is_string($v) ? tarvex_text($v) : '';
}

/** The values of a "name[]" field, in order. */
function tarvex_list(string $name): array
{
    global $tarvex_post;
    $v = $tarvex_post[$name] ?? [];
    if (!is_array($v)) {
        return [];
    }
    return array_map(static fn ($x) => is_string($x) ? tarvex_text($x) : '', array_values($v));
}

// ---- Who may ask ---------------------------------------------------------------------------

if (!$tarvex_embedded) {
    $tarvex_config = __DIR__ . '/tarvex-config.php';
    if (!is_file($tarvex_config)) {
        tarvex_fail(500, 'tarvex-config.php is missing beside tarvex.php');
    }
    require $tarvex_config;
}
if (!defined('TARVEX_SECRET') || !is_string(TARVEX_SECRET) || strlen(TARVEX_SECRET) < 16) {
    tarvex_fail(500, 'TARVEX_SECRET in tarvex-config.php must have at least 16 characters');
}
if (TARVEX_SECRET === 'change-me-to-a-long-random-text') {
    tarvex_fail(500, 'TARVEX_SECRET in tarvex-config.php is still the sample value: change it');
}
if (!defined('TARVEX_MAX_UPLOAD_BYTES')) {
    define('TARVEX_MAX_UPLOAD_BYTES', 256 * 1024 * 1024);
}
if (($_SERVER['REQUEST_METHOD'] ?? '') !== 'POST') {
    tarvex_fail(405, 'POST only');
}
$tarvex_given = isset($_GET['secret']) && is_string($_GET['secret']) ? $_GET['secret'] : '';
// Compared in constant time, so the secret cannot be guessed from response times.
if (!hash_equals(TARVEX_SECRET, $tarvex_given)) {
    tarvex_fail(403, 'wrong secret');
}
if (empty($_POST) && (int) ($_SERVER['CONTENT_LENGTH'] ?? 0) > 0) {
    tarvex_fail(413, 'request larger than post_max_size (' . ini_get('post_max_size') . ')');
}
$tarvex_op = is_string($tarvex_post['tarvex'] ?? null) ? $tarvex_post['tarvex'] : '';
if (!in_array($tarvex_op, ['AddInfo', 'upall', 'upsingle', 'upsingle_part', 'GetAllClass'], true)) {
    tarvex_fail(400, 'unknown operation');
}

// ---- WordPress -----------------------------------------------------------------------------

if (!$tarvex_embedded) {
    define('WP_USE_THEMES', false);
    require __DIR__ . '/wp-load.php';
}
require_once ABSPATH . 'wp-admin/includes/file.php';
require_once ABSPATH . 'wp-admin/includes/image.php';
require_once ABSPATH . 'wp-admin/includes/media.php';

/** Name parts that make a web server run a file, wherever they stand in the name. */
const TARVEX_REFUSED_PARTS = [
    'php', 'php2', 'php3', 'php4', 'php5', 'php6', 'php7', 'php8', 'phtml', 'pht', 'phar', 'phps', 'inc',
    'cgi', 'pl', 'py', 'pyc', 'rb', 'sh', 'bash', 'asp', 'aspx', 'ascx', 'ashx', 'asmx', 'cer', 'asa', 'jsp',
    'jspx', 'jsw', 'jsv', 'jspf', 'cfm', 'cfml', 'shtml', 'shtm', 'stm', 'htaccess', 'htpasswd', 'ini',
    'exe', 'com', 'bat', 'cmd', 'dll', 'so', 'msi', 'vbs', 'js', 'mjs', 'html', 'htm', 'xhtml', 'svg',
    'svgz', 'swf', 'xml', 'config',
];

/**
 * Where the file of an address goes: [path, url] below the uploads folder, or a WP_Error.
 * The address must lie below the uploads address ("/wp-content/uploads/…", with or without
 * scheme and host); its path below it names folders and file.
 */
function tarvex_target(string $newurl)
{
    $up = wp_upload_dir(null, false);
    if (!empty($up['error'])) {
        return new WP_Error('uploads', $up['error']);
    }
    $basePath = rtrim((string) parse_url($up['baseurl'], PHP_URL_PATH), '/');
    $path = (string) parse_url($newurl, PHP_URL_PATH);
    if ($path === '' || strpos($newurl, '\\') !== false || strpos($path, $basePath . '/') !== 0) {
        return new WP_Error('place', 'the address must lie below ' . $basePath . '/: ' . $newurl);
    }
    $rel = rawurldecode(substr($path, strlen($basePath) + 1));
    $segments = explode('/', $rel);
    foreach ($segments as $seg) {
        if ($seg === '' || $seg === '.' || $seg === '..' || $seg[0] === '.' || preg_match('/[\x00-\x1f\x7f\\\\:]/', $seg)) {
            return new WP_Error('name', 'refused path: ' . $rel);
        }
    }
    $name = end($segments);
    $parts = explode('.', strtolower($name));
    array_shift($parts);
    if (!$parts) {
        return new WP_Error('type', 'a file needs an extension: ' . $name);
    }
    foreach ($parts as $part) {
        if (in_array(trim($part), TARVEX_REFUSED_PARTS, true) || strpos($part, 'php') === 0) {
            return new WP_Error('type', 'refused file type: ' . $name);
        }
    }
    $type = wp_check_filetype($name);
    if (empty($type['ext'])) {
        return new WP_Error('type', 'file type not allowed by WordPress: ' . $name);
    }
    return [$up['basedir'] . '/' . $rel, $up['baseurl'] . '/' . implode('/', array_map('rawurlencode', $segments))];
}

/** Creates the file's folder and checks that it really lies in the uploads folder. */
function tarvex_folder_for(string $path)
{
    $dir = dirname($path);
    if (!wp_mkdir_p($dir)) {
        return new WP_Error('mkdir', 'cannot create ' . $dir);
    }
    $base = realpath(wp_upload_dir(null, false)['basedir']);
    $real = realpath($dir);
    if ($base === false || $real === false || ($real !== $base && strpos($real . '/', $base . '/') !== 0)) {
        return new WP_Error('place', 'folder outside the uploads folder');
    }
    return true;
}

/** The uploaded files of "upload_file[]" with their addresses: [[newurl, tmp, size], …]. */
function tarvex_files(): array
{
    $urls = tarvex_list('upload_newurl');
    $f = $_FILES['upload_file'] ?? null;
    if (!is_array($f) || !is_array($f['tmp_name'] ?? null)) {
        if ($urls) {
            tarvex_fail(413, 'received no file of ' . count($urls) . ' (upload_max_filesize, post_max_size or max_file_uploads)');
        }
        return [];
    }
    // PHP drops the files beyond max_file_uploads without a word: the post would lack them.
    if (count($f['tmp_name']) !== count($urls)) {
        tarvex_fail(413, 'received ' . count($f['tmp_name']) . ' of ' . count($urls) . ' files (max_file_uploads is '
            . ini_get('max_file_uploads') . '); send fewer files per request or raise max_file_uploads');
    }
    $out = [];
    foreach (array_values($f['tmp_name']) as $i => $tmp) {
        $error = (int) (array_values($f['error'])[$i] ?? UPLOAD_ERR_NO_FILE);
        $out[] = [
            'newurl' => $urls[$i] ?? '',
            'tmp' => (string) $tmp,
            'size' => (int) (array_values($f['size'])[$i] ?? 0),
            'error' => $error,
        ];
    }
    return $out;
}

/** Stores one uploaded file at its address; true or a WP_Error. */
function tarvex_store(array $file)
{
    if ($file['error'] !== UPLOAD_ERR_OK) {
        return new WP_Error('upload', 'upload error ' . $file['error'] . ' for ' . $file['newurl']
            . ($file['error'] === UPLOAD_ERR_INI_SIZE ? ' (larger than upload_max_filesize)' : ''));
    }
    if ($file['size'] > TARVEX_MAX_UPLOAD_BYTES) {
        return new WP_Error('size', 'larger than ' . TARVEX_MAX_UPLOAD_BYTES . ' bytes: ' . $file['newurl']);
    }
    $target = tarvex_target($file['newurl']);
    if (is_wp_error($target)) {
        return $target;
    }
    if (!is_uploaded_file($file['tmp'])) {
        return new WP_Error('move', 'cannot store ' . $file['newurl']);
    }
    $checked = tarvex_check_content($file['tmp'], $target[0]);
    if (is_wp_error($checked)) {
        return $checked;
    }
    $ok = tarvex_folder_for($target[0]);
    if (is_wp_error($ok)) {
        return $ok;
    }
    return tarvex_place($file['tmp'], $target[0], $file['newurl'], true);
}

/** The file's bytes must be what its name says, as WordPress's own upload checks them. */
function tarvex_check_content(string $tmp, string $path)
{
    $name = basename($path);
    $check = wp_check_filetype_and_ext($tmp, $name);
    if (empty($check['ext']) || empty($check['type'])) {
        return new WP_Error('type', 'refused file: its content is not of the type its name says: ' . $name);
    }
    $named = wp_check_filetype($name);
    $isImage = strpos((string) $named['type'], 'image/') === 0;
    // Like WordPress's own upload, an image of another image format passes (a watermarked PNG
    // is JPEG data); what is no image at all does not.
    if ($isImage && function_exists('wp_get_image_mime') && !wp_get_image_mime($tmp)) {
        return new WP_Error('type', 'refused file: not an image: ' . $name);
    }
    if (!$isImage && !empty($check['proper_filename']) && $check['proper_filename'] !== $name) {
        return new WP_Error('type', 'refused file: its content is ' . $check['type'] . ', not what the name ' . $name . ' says');
    }
    return true;
}

/**
 * Puts a finished file at its place. A file already there is kept: the same bytes again (a
 * retry) are a success, other bytes (another post's file of that name) are refused.
 */
function tarvex_place(string $from, string $to, string $newurl, bool $uploaded)
{
    if (file_exists($to)) {
        $same = is_file($to) && filesize($to) === filesize($from) && hash_file('sha256', $to) === hash_file('sha256', $from);
        @unlink($from);
        return $same ? true : new WP_Error('exists', 'refused: a different file is already stored at ' . $newurl);
    }
    $moved = $uploaded ? @move_uploaded_file($from, $to) : @rename($from, $to);
    if (!$moved) {
        return new WP_Error('move', 'cannot store ' . $newurl);
    }
    @chmod($to, 0644);
    return true;
}

/** Stores every attached file; the list of failures. */
function tarvex_store_all(): array
{
    $failures = [];
    foreach (tarvex_files() as $file) {
        $r = tarvex_store($file);
        if (is_wp_error($r)) {
            $failures[] = $r->get_error_message();
        }
    }
    return $failures;
}

// ---- Operations ----------------------------------------------------------------------------

function tarvex_get_all_class(): void
{
    $terms = get_terms(['taxonomy' => 'category', 'hide_empty' => false, 'orderby' => 'name']);
    if (is_wp_error($terms)) {
        tarvex_fail(500, $terms->get_error_message());
    }
    $out = '@@@<br/>';
    foreach ($terms as $t) {
        $name = str_replace(['<br/>', '###', "\r", "\n"], ' ', html_entity_decode($t->name, ENT_QUOTES, 'UTF-8'));
        $out .= $name . '###' . $t->term_id . '###' . $t->parent . '<br/>';
    }
    tarvex_reply(200, $out);
}

function tarvex_upload(bool $single): void
{
    $files = tarvex_files();
    if (!$files) {
        tarvex_fail(400, 'no file');
    }
    if ($single && count($files) > 1) {
        tarvex_fail(400, 'one file per upsingle request');
    }
    $failures = tarvex_store_all();
    if ($failures) {
        tarvex_fail(422, implode('; ', $failures));
    }
    tarvex_reply(200, 'succ|' . count($files));
}

function tarvex_upload_part(): void
{
    $parts = (int) ($_POST['parts'] ?? 0);
    $part = (int) ($_POST['part'] ?? 0);
    $files = tarvex_files();
    if ($parts < 1 || $part < 1 || $part > $parts || count($files) !== 1) {
        tarvex_fail(400, 'bad piece');
    }
    $file = $files[0];
    if ($file['error'] !== UPLOAD_ERR_OK || !is_uploaded_file($file['tmp'])) {
        tarvex_fail(400, 'upload error ' . $file['error']);
    }
    $target = tarvex_target($file['newurl']);
    if (is_wp_error($target)) {
        tarvex_fail(422, $target->get_error_message());
    }
    $dir = wp_upload_dir(null, false)['basedir'] . '/tarvex-parts';
    if (!wp_mkdir_p($dir)) {
        tarvex_fail(500, 'cannot create ' . $dir);
    }
    if (!is_file($dir . '/.htaccess')) {
        @file_put_contents($dir . '/.htaccess', "Require all denied\nDeny from all\n");
        @file_put_contents($dir . '/index.php', "<?php\n");
    }
    // Pieces left by a transfer that never ended are dropped after a day.
    foreach (glob($dir . '/*.{part,json,lock}', GLOB_BRACE) ?: [] as $old) {
        if (filemtime($old) < time() - 86400) {
            @unlink($old);
        }
    }
    $key = $dir . '/' . sha1($target[0]);
    $lock = fopen($key . '.lock', 'c');
    if (!$lock || !flock($lock, LOCK_EX)) {
        tarvex_fail(500, 'cannot lock the pieces of ' . $file['newurl']);
    }
    $state = $part === 1 ? ['parts' => $parts, 'next' => 1, 'size' => 0]
        : json_decode((string) @file_get_contents($key . '.json'), true);
    if (!is_array($state) || $state['parts'] !== $parts || $state['next'] !== $part) {
        $expected = is_array($state) ? $state['next'] : 1;
        tarvex_fail(409, 'piece ' . $part . '/' . $parts . ' out of order, expected ' . $expected);
    }
    $size = (int) filesize($file['tmp']);
    if ($state['size'] + $size > TARVEX_MAX_UPLOAD_BYTES) {
        @unlink($key . '.part');
        @unlink($key . '.json');
        @unlink($key . '.lock');
        tarvex_fail(413, 'larger than ' . TARVEX_MAX_UPLOAD_BYTES . ' bytes: ' . $file['newurl']);
    }
    $in = fopen($file['tmp'], 'rb');
    $out = fopen($key . '.part', $part === 1 ? 'wb' : 'ab');
    if (!$in || !$out || stream_copy_to_stream($in, $out) !== $size) {
        tarvex_fail(500, 'cannot keep piece ' . $part);
    }
    fclose($in);
    fclose($out);
    $state['next'] = $part + 1;
    $state['size'] += $size;
    if ($part < $parts) {
        file_put_contents($key . '.json', json_encode($state));
        tarvex_reply(200, 'succ|piece ' . $part . '/' . $parts);
    }
    @unlink($key . '.json');
    // The pieces are done whatever happens next: their lock file goes too.
    flock($lock, LOCK_UN);
    fclose($lock);
    @unlink($key . '.lock');
    $ok = tarvex_check_content($key . '.part', $target[0]);
    if (!is_wp_error($ok)) {
        $ok = tarvex_folder_for($target[0]);
    }
    if (!is_wp_error($ok)) {
        $ok = tarvex_place($key . '.part', $target[0], $file['newurl'], false);
    }
    if (is_wp_error($ok)) {
        @unlink($key . '.part');
        tarvex_fail(422, $ok->get_error_message());
    }
    tarvex_reply(200, 'succ|' . $state['size']);
}

/** The author: the "author" field's login, TARVEX_AUTHOR, else the first administrator. */
function tarvex_author(): int
{
    foreach ([tarvex_field('author'), defined('TARVEX_AUTHOR') ? (string) TARVEX_AUTHOR : ''] as $login) {
        if ($login !== '' && ($u = get_user_by('login', $login))) {
            return (int) $u->ID;
        }
    }
    $admins = get_users(['role' => 'administrator', 'orderby' => 'ID', 'number' => 1, 'fields' => 'ID']);
    return $admins ? (int) $admins[0] : 0;
}

/** Category ids of the "category" field (comma-separated); the default category when none is valid. */
function tarvex_categories(): array
{
    $ids = [];
    foreach (explode(',', tarvex_field('category')) as $id) {
        $id = (int) trim($id);
        if ($id > 0 && term_exists($id, 'category')) {
            $ids[] = $id;
        }
    }
    return $ids ?: [(int) get_option('default_category')];
}

/** Makes the thumbnail's file (already in the uploads folder) the post's featured image. */
function tarvex_featured_image(int $postId, string $thumb): void
{
    if ($thumb === '') {
        return;
    }
    $target = tarvex_target($thumb);
    if (is_wp_error($target) || !is_file($target[0])) {
        return;
    }
    $attachment = attachment_url_to_postid($target[1]);
    if (!$attachment) {
        $type = wp_check_filetype(basename($target[0]));
        $attachment = wp_insert_attachment([
            'post_mime_type' => $type['type'],
            'post_title' => sanitize_file_name(pathinfo($target[0], PATHINFO_FILENAME)),
            'post_content' => '',
            'post_status' => 'inherit',
        ], $target[0], $postId, true);
        if (is_wp_error($attachment)) {
            return;
        }
        wp_update_attachment_metadata($attachment, wp_generate_attachment_metadata($attachment, $target[0]));
    }
    set_post_thumbnail($postId, $attachment);
}

function tarvex_add_info(): void
{
    global $wpdb;
    $title = trim(tarvex_field('title'));
    if ($title === '') {
        tarvex_fail(400, 'empty title');
    }
    $source = trim(tarvex_field('source'));
    $key = strtolower(trim(tarvex_field('tarvex_key')));
    if ($key !== '' && !preg_match('/^[0-9a-f]{16,128}$/', $key)) {
        tarvex_fail(400, 'bad tarvex_key');
    }
    // The program's key names the record for this site; older programs send none, then the
    // source address does.
    [$metaKey, $metaValue] = $key !== '' ? ['_tarvex_key', $key] : ['_tarvex_source', $source];
    $lock = '';
    if ($metaValue !== '') {
        // One request per record at a time, so two posts of one record cannot both pass the
        // check below. A lock that cannot be had in time is a failure: the program tries again.
        $lock = 'tarvex_' . md5($metaKey . '|' . $metaValue);
        $got = $wpdb->get_var($wpdb->prepare('SELECT GET_LOCK(%s, 30)', $lock));
        if ((string) $got !== '1') {
            tarvex_fail(503, 'busy: another request is storing this record, try again');
        }
        $existing = get_posts([
            'post_type' => 'post',
            'post_status' => ['publish', 'future', 'draft', 'pending', 'private', 'trash'],
            'meta_key' => $metaKey,
            'meta_value' => $metaValue,
            'fields' => 'ids',
            'numberposts' => 1,
            'suppress_filters' => true,
        ]);
        if ($existing) {
            $wpdb->get_var($wpdb->prepare('SELECT RELEASE_LOCK(%s)', $lock));
            tarvex_reply(200, 'succ|' . $existing[0]);
        }
    }
    $failures = tarvex_store_all();
    if ($failures) {
        tarvex_fail(422, implode('; ', $failures));
    }
    $status = tarvex_field('status');
    $post = [
        'post_type' => 'post',
        'post_title' => $title,
        'post_content' => tarvex_field('content'),
        'post_excerpt' => tarvex_field('excerpt'),
        'post_status' => in_array($status, ['publish', 'draft', 'pending', 'private'], true) ? $status : 'publish',
        'post_author' => tarvex_author(),
        'post_category' => tarvex_categories(),
        'tags_input' => array_filter(array_map('trim', explode(',', tarvex_field('tags'))), 'strlen'),
        'meta_input' => array_filter(['_tarvex_source' => $source, '_tarvex_key' => $key], 'strlen'),
    ];
    $date = tarvex_field('date');
    if ($date !== '' && strtotime($date) !== false) {
        $post['post_date'] = gmdate('Y-m-d H:i:s', strtotime($date));
    }
    $id = wp_insert_post(wp_slash($post), true);
    if (is_wp_error($id)) {
        tarvex_fail(500, $id->get_error_message());
    }
    tarvex_featured_image((int) $id, tarvex_field('thumb'));
    if ($lock !== '') {
        $wpdb->get_var($wpdb->prepare('SELECT RELEASE_LOCK(%s)', $lock));
    }
    tarvex_reply(200, 'succ|' . $id);
}

switch ($tarvex_op) {
    case 'GetAllClass':
        tarvex_get_all_class();
        break;
    case 'upall':
        tarvex_upload(false);
        break;
    case 'upsingle':
        tarvex_upload(true);
        break;
    case 'upsingle_part':
        tarvex_upload_part();
        break;
    default:
        tarvex_add_info();
}
