<?php
// Removing the plugin removes its secret; posts, attachments and their marks stay.
if (!defined('WP_UNINSTALL_PLUGIN')) {
    exit;
}
delete_option('tarvex_publisher_secret');
