<?php
// Settings of tarvex.php. Copy this file to tarvex-config.php in the WordPress root folder
// (beside tarvex.php) and change the secret. The publish module's address then carries it:
//     http://your.site/tarvex.php?secret=THE_SECRET
// Make it long and random, for example the output of:  php -r 'echo bin2hex(random_bytes(24));'

// Required: at least 16 characters.
define('TARVEX_SECRET', 'change-me-to-a-long-random-text');

// Optional: the login of the user new posts belong to (else the "author" field, else the
// first administrator).
// define('TARVEX_AUTHOR', 'admin');

// Optional: the largest file, whole or put together from pieces, in bytes (default 256 MB).
// PHP's upload_max_filesize and post_max_size limit each request as well.
// define('TARVEX_MAX_UPLOAD_BYTES', 256 * 1024 * 1024);
