<?php
/**
 * Plugin Name:       Tarvex采集器发布接口
 * Description:       让 Tarvex采集器 把采集到的内容发布到本站：文章、附件和分类列表。启用后在“设置 → Tarvex采集器”里复制接口地址，填入发布模块。
 * Version:           1.0.0
 * Requires at least: 5.3
 * Requires PHP:      7.4
 * Author:            Tarvex采集器
 * License:           GPL-2.0-or-later
 * Text Domain:       tarvex-publisher
 *
 * The interface itself is tarvex.php beside this file, the same script a plain install puts
 * into the WordPress root folder. Here WordPress is loaded already: a request to the site's
 * home address with "tarvex_interface=1" is handed to that script once WordPress has loaded,
 * with the secret this plugin keeps in its option.
 */

if (!defined('ABSPATH')) {
    exit;
}

const TARVEX_PLUGIN_OPTION = 'tarvex_publisher_secret';
const TARVEX_PLUGIN_QUERY = 'tarvex_interface';

/** A new secret: 64 hexadecimal characters from the system's random source. */
function tarvex_plugin_new_secret(): string
{
    return bin2hex(random_bytes(32));
}

function tarvex_plugin_secret(): string
{
    $secret = get_option(TARVEX_PLUGIN_OPTION, '');
    if (!is_string($secret) || strlen($secret) < 32) {
        // Activated in a way that skipped the hook (a copied folder, a network install).
        $secret = tarvex_plugin_new_secret();
        update_option(TARVEX_PLUGIN_OPTION, $secret, false);
    }
    return $secret;
}

/** The address a publish module posts to; `$gbk` for a module that sends GBK ("charset=0"). */
function tarvex_plugin_interface_url(bool $gbk = false): string
{
    $args = [TARVEX_PLUGIN_QUERY => '1', 'secret' => tarvex_plugin_secret()];
    if ($gbk) {
        $args['charset'] = 'gbk';
    }
    return add_query_arg($args, home_url('/'));
}

register_activation_hook(__FILE__, static function (): void {
    $secret = get_option(TARVEX_PLUGIN_OPTION, '');
    if (!is_string($secret) || strlen($secret) < 32) {
        update_option(TARVEX_PLUGIN_OPTION, tarvex_plugin_new_secret(), false);
    }
});

// The interface runs once WordPress and every plugin have loaded, before any page is built.
add_action('wp_loaded', static function (): void {
    if (!isset($_GET[TARVEX_PLUGIN_QUERY])) {
        return;
    }
    if (!defined('TARVEX_SECRET')) {
        define('TARVEX_SECRET', tarvex_plugin_secret());
    }
    define('TARVEX_EMBEDDED', true);
    require __DIR__ . '/tarvex.php';
    exit;
}, 0);

// ---- Settings page ---------------------------------------------------------------------------

add_action('admin_menu', static function (): void {
    add_options_page('Tarvex采集器', 'Tarvex采集器', 'manage_options', 'tarvex-publisher', 'tarvex_plugin_settings_page');
});

add_filter('plugin_action_links_' . plugin_basename(__FILE__), static function (array $links): array {
    array_unshift($links, '<a href="' . esc_url(admin_url('options-general.php?page=tarvex-publisher')) . '">设置</a>');
    return $links;
});

add_action('admin_post_tarvex_publisher_renew', static function (): void {
    if (!current_user_can('manage_options')) {
        wp_die('没有权限', 403);
    }
    check_admin_referer('tarvex_publisher_renew');
    update_option(TARVEX_PLUGIN_OPTION, tarvex_plugin_new_secret(), false);
    wp_safe_redirect(admin_url('options-general.php?page=tarvex-publisher&renewed=1'));
    exit;
});

function tarvex_plugin_settings_page(): void
{
    if (!current_user_can('manage_options')) {
        return;
    }
    $utf8 = tarvex_plugin_interface_url(false);
    $gbk = tarvex_plugin_interface_url(true);
    $uploads = wp_upload_dir(null, false);
    $uploadPath = rtrim((string) wp_parse_url($uploads['baseurl'], PHP_URL_PATH), '/');
    ?>
    <div class="wrap">
        <h1>Tarvex采集器发布接口</h1>
        <?php if (!empty($_GET['renewed'])) : ?>
            <div class="notice notice-success"><p>已生成新的接口密钥。旧地址从现在起不再有效，请把新地址填入发布模块。</p></div>
        <?php endif; ?>
        <p>把下面的接口地址复制到 Tarvex采集器 发布模块的第一行（<code>posturl=</code> 之后）。地址里含有密钥，请不要公开。</p>
        <table class="form-table" role="presentation">
            <tr>
                <th scope="row"><label for="tarvex-url-utf8">接口地址（UTF-8 模块，charset=1）</label></th>
                <td><input type="text" id="tarvex-url-utf8" class="large-text code" readonly value="<?php echo esc_attr($utf8); ?>" onfocus="this.select()"></td>
            </tr>
            <tr>
                <th scope="row"><label for="tarvex-url-gbk">接口地址（GBK 模块，charset=0）</label></th>
                <td><input type="text" id="tarvex-url-gbk" class="large-text code" readonly value="<?php echo esc_attr($gbk); ?>" onfocus="this.select()"></td>
            </tr>
            <tr>
                <th scope="row">附件地址</th>
                <td>图片等附件的新地址须位于 <code><?php echo esc_html($uploadPath); ?>/</code> 之下，例如 <code><?php echo esc_html($uploadPath); ?>/tarvex/{dd:原文件名}</code>；脚本、隐藏文件和内容与扩展名不符的文件一律拒收。</td>
            </tr>
        </table>
        <form method="post" action="<?php echo esc_url(admin_url('admin-post.php')); ?>">
            <input type="hidden" name="action" value="tarvex_publisher_renew">
            <?php wp_nonce_field('tarvex_publisher_renew'); ?>
            <?php submit_button('重新生成密钥', 'secondary', 'submit', false, ['onclick' => "return confirm('重新生成后旧的接口地址立即失效，确定吗？');"]); ?>
        </form>
    </div>
    <?php
}
