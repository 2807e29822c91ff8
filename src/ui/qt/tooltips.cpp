#include "ui/qt/tooltips.h"

#include <QAbstractButton>
#include <QFormLayout>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QLayout>
#include <QRegularExpression>
#include <QWidget>

namespace tarvex::ui {

namespace {

// clang-format off
constexpr Tooltip kTooltips[] = {
    // ---- main window: the task settings area (object names are the settings keys) ----
    {"*", "other_testurl", "单页采集和单页发布用的内容页网址：改好规则后先拿一篇试一试，不会写入任务数据库。\n例：http://www.example.com/news/123.html"},
    {"*", "singleCollect", "用当前（可未保存的）规则采集上面网址的一篇内容，结果显示在下方“运行日志”页。\n例：填好输入网址后点此按钮，逐个核对字段"},
    {"*", "singlePublish", "把单页采集得到的内容按“发布内容”页的设置发布一次，用来检查发布模块和栏目。\n例：单页采集核对无误后点此按钮，再到网站后台查看"},
    {"*", "fieldList", "本任务要采集的字段，按从上到下的顺序提取；双击编辑，右键可上移、下移、复制和粘贴字段。\n例：标题、内容、作者、发布时间"},
    {"*", "listSettings", "列表页网址从哪里来，以及从列表页中提取内容页链接的规则。\n例：http://www.example.com/list_{参数}.html，首项 1，尾项 20"},
    {"*", "pageSettings", "内容页的分页规则：怎样从一篇文章的第 1 页找到第 2、3…页。\n例：分页区间开始 <div class=\"pages\">，结束 </div>"},
    {"*", "multiPage", "从内容页再打开下级页面（评论页、下载页等），在字段规则中用“多级页面获取”从中提取。\n例：上级页面“内容页”，网址中查找 /news/ 替换为 /comment/"},
    {"*", "PostRuleName", "发布用的发布模块（工作目录“发布规则”文件夹中的 .p 文件），决定内容发到哪个网站接口。\n例：wordpress 4.3"},
    {"*", "editModule", "打开“发布规则配置”，编辑所选发布模块的接口网址和发布字段。\n例：把接口网址改为 http://www.mysite.com/tarvex.php"},
    {"*", "loadColumns", "通过网站上的接口文件读出网站的栏目列表，填入下面的发布栏目。\n例：选好发布接口后点此按钮，再点选“新闻”栏目"},
    {"*", "siteGroup", "把同一批内容发布到多个网站（站群）：每个站点有自己的发布模块、栏目和标记。\n例：站点“主站”标记 a，站点“分站”标记 b"},
    {"*", "columnTree", "内容发布到的网站栏目：点“加载栏目”读出，也可用下面的按钮手动增加栏目节点。\n例：新闻（栏目ID 3）"},
    {"*", "other_check_classid", "勾选后发布时不指定栏目，由接口文件决定放到哪个栏目，也不要求先选栏目。\n例：WordPress 发布到默认分类时勾选"},
    {"*", "other_autoupload", "发布文章时把已下载的附件（图片等）一起上传到网站，文中的地址换成网站上的地址。\n例：希望图片保存在自己网站上时勾选"},
    {"*", "other_check_rengong", "开启后只发布在数据库查看器中点过“通过审核”的内容。\n例：需要人工挑选后再发布时勾选"},
    {"*", "other_post_max", "每次运行最多发布多少条，0 或留空表示不限。\n例：20"},
    {"*", "other_minid_post", "只发布 ID 不小于此值的内容，留空从第一条开始。\n例：100"},
    {"*", "other_time1", "每抓取一个列表页后暂停多少毫秒，访问太快可能被网站封禁。\n例：1000（即 1 秒）"},
    {"*", "other_time2", "每采集一篇内容页后暂停多少毫秒。\n例：500"},
    {"*", "other_time3", "每发布一条内容后暂停多少毫秒，避免网站来不及处理。\n例：2000"},
    {"*", "other_cookie", "访问网站时带上的 Cookie，采集需要登录才能看的页面时使用；可点“获取”登录后自动取得。\n例：PHPSESSID=abc123; uid=1000"},
    {"*", "captureCookie", "打开内置浏览器登录网站，登录后取回 Cookie（和浏览器UA）填到这里。\n例：打开 http://www.example.com/login 登录后点“获取COOKIE”"},
    {"*", "other_ua", "访问网站时发送的浏览器标识（User-Agent），留空用程序的默认值。\n例：Mozilla/5.0 (Windows NT 10.0; Win64; x64)"},
    {"*", "other_savepath", "下载的附件保存到哪个文件夹，留空保存在工作目录的 data/任务ID 下。\n例：/home/user/附件/新闻/"},
    {"*", "chooseSavePath", "选择附件保存的文件夹。\n例：/home/user/附件/"},
    {"*", "other_joinpage", "一篇文章分成多页时，各页内容之间插入的文字。\n例：[dd:分页符] 或 <hr>"},
    {"*", "other_join_repeat", "一个字段在页面中匹配到多处时，各处内容之间的连接文字。\n例：<br> 或 ,"},
    {"*", "other_minid_get", "只采集 ID 不小于此值的网址，留空从第一条开始。\n例：500"},
    {"*", "other_charset", "网页乱码时强制按此编码读取，留空由程序自动识别。\n例：GBK"},
    {"*", "other_url_max", "每个列表页最多取多少个内容页链接，0 或留空表示全部。\n例：10"},
    {"*", "other_gzip", "请求网站压缩传输（gzip），速度更快；个别网站因此出错时取消勾选。\n例：一般保持勾选"},
    {"*", "other_open_editform", "单页采集后不打开可视编辑框，可以直接单页发布。\n例：只想快速查看采集结果时勾选"},
    {"*", "other_check_repeatget", "已采集过的内容页在下次运行时再采集一次。\n例：采集会更新的页面（如行情页）时勾选"},
    {"*", "other_check_title", "标题已存在的内容不再保存。\n例：同一文章在多个网址出现时勾选"},
    {"*", "other_check_url", "网址已存在的内容不再保存。\n例：一般保持勾选"},
    {"*", "uploadSettings", "附件上传设置：附件用网站接口上传还是 FTP 上传，何时上传。\n例：选 FTP发布，填 FTP地址 ftp.mysite.com"},

    // ---- list settings ----
    {"ListSettingsDialog", "单个网址", "添加一个列表页网址。\n例：http://www.example.com/news/"},
    {"ListSettingsDialog", "列表网址格式", "按页码批量生成列表页网址：{参数} 依次换成从首项到尾项的数字。\n例：http://www.example.com/list_{参数}.html"},
    {"ListSettingsDialog", "首项", "生成网址时 {参数} 的第一个数字。\n例：1"},
    {"ListSettingsDialog", "尾项", "生成网址时 {参数} 的最后一个数字；比首项小时倒着生成。\n例：20"},
    {"ListSettingsDialog", "间隔", "相邻两个数字相差多少。\n例：1（每页加 1），或 10"},
    {"ListSettingsDialog", "文本导入", "从文本文件导入列表网址，每行一个。\n例：列表网址.txt"},
    {"ListSettingsDialog", "sourceList", "已添加的列表网址，运行时依次展开和抓取；选中后可删除。\n例：http://www.example.com/news/"},
    {"ListSettingsDialog", "前边字符", "列表区域开始处的文字：只在这段区域中找内容页链接，留空表示整页。\n例：<ul class=\"list\">"},
    {"ListSettingsDialog", "后边字符", "列表区域结束处的文字。\n例：</ul>"},
    {"ListSettingsDialog", "区域替换前", "找链接之前，先把列表区域中的这些文字替换掉，每行一条；一般留空。\n例：href=\"/"},
    {"ListSettingsDialog", "区域替换后", "与“区域替换前”逐行对应的替换结果。\n例：href=\"http://www.example.com/"},
    {"ListSettingsDialog", "指定采集目标页链接规则（留空将自动提取网址）", "内容页链接的样子，{*} 代表变化的部分；留空则取区域中所有链接。\n例：<a href=\"{*}\" class=\"title\">"},
    {"ListSettingsDialog", "网址包含", "只采集网址中含有这些文字的链接，多个用英文逗号隔开。\n例：/news/,.html"},
    {"ListSettingsDialog", "不可包含", "网址中含有这些文字的链接不采集，多个用英文逗号隔开。\n例：/tag/,#comment"},
    {"ListSettingsDialog", "不带访问来源", "抓取列表页时不发送来源页（Referer），个别网站会因来源拦截。\n例：列表页抓回来是空的时勾选试试"},
    {"ListSettingsDialog", "列表标题不能重复", "列表中标题相同的链接只采集一次。\n例：同一文章有多个入口时勾选"},
    {"ListSettingsDialog", "超时时间(s)", "抓取列表页最多等待多少秒，留空用默认值。\n例：30"},
    {"ListSettingsDialog", "排序", "内容页链接的采集顺序。\n例：想先采最早的文章时选“反序”"},
    {"ListSettingsDialog", "正序", "按列表页上从上到下的顺序采集。\n例：最新文章在最上面时先采最新的"},
    {"ListSettingsDialog", "反序", "从列表的最后一条往前采集。\n例：让网站上的发布顺序和原站一致"},
    {"ListSettingsDialog", "乱序", "打乱顺序采集。\n例：不想让发布顺序和原站一样时选"},
    {"ListSettingsDialog", "分页设置", "列表页的分页规则：从列表第 1 页找到后面的各页。\n例：分页区间开始 <div class=\"page\">"},
    {"ListSettingsDialog", "分页设置（已设置）", "列表页的分页规则：从列表第 1 页找到后面的各页（已设置）。\n例：分页区间开始 <div class=\"page\">"},
    {"ListSettingsDialog", "清除分页", "删除列表页的分页设置。\n例：改用“列表网址格式”生成各页后点此清除"},

    // ---- pagination ----
    {"PaginationDialog", "分页区间开始", "分页链接所在区域开始处的文字。\n例：<div class=\"pages\">"},
    {"PaginationDialog", "分页区间结束", "分页链接所在区域结束处的文字。\n例：</div>"},
    {"PaginationDialog", "必须包含", "分页网址必须含有这些文字，多个用英文逗号隔开。\n例：_2,_3 或 page="},
    {"PaginationDialog", "不得包含", "含有这些文字的链接不当作分页，多个用英文逗号隔开。\n例：javascript,#"},
    {"PaginationDialog", "最大分页数", "最多跟到第几页，0 表示不限。\n例：10"},
    {"PaginationDialog", "间隔(ms)", "抓取两个分页之间暂停多少毫秒。\n例：500"},
    {"PaginationDialog", "模式", "怎样找出全部分页。\n例：每页只有“下一页”链接的网站选“智能提取模式”"},
    {"PaginationDialog", "智能提取模式", "每一页都在分页区域中找下一页，直到找不到为止。\n例：只有“上一页/下一页”的网站"},
    {"PaginationDialog", "全部列出模式", "第一页的分页区域已列出所有页码，一次取全。\n例：页面底部有 1 2 3 4 5 页码的网站"},
    {"PaginationDialog", "分页网址匹配", "按分页网址的样子找分页（与智能提取模式一样处理，分页规则正则只作记录）。\n例：分页网址像 123_2.html、123_3.html 的网站"},
    {"PaginationDialog", "分页规则正则", "分页链接的正则表达式，留空则取分页区域中的所有链接。\n例：href=\"(?<url>[^\"]*_\\d+\\.html)\""},
    {"PaginationDialog", "区域替换前", "找分页链接之前，先把分页区域中的这些文字替换掉，每行一条；一般留空。\n例：&amp;"},
    {"PaginationDialog", "区域替换后", "与“区域替换前”逐行对应的替换结果。\n例：&"},

    // ---- multi-level pages ----
    {"MultiLevelDialog", "levelList", "从内容页打开的下级页面，每一级从它的上级页面中找到自己的网址。\n例：第 1 级“评论页”，第 2 级“评论第 2 页”"},
    {"MultiLevelDialog", "标题", "这一级页面的名称，字段规则中“多级页面获取”按它选择。\n例：评论页"},
    {"MultiLevelDialog", "上级页面", "从哪一个页面中找这一级的网址：内容页或前面的某一级。\n例：内容页"},
    {"MultiLevelDialog", "从页面内容中采集提取", "在上级页面的内容中，用前后字符截取这一级的网址。\n例：前边字符 <a href=\"  后边字符 \">查看评论"},
    {"MultiLevelDialog", "从网址中提取", "把上级页面的网址改写成这一级的网址。\n例：网址中查找 /news/，替换为 /comment/"},
    {"MultiLevelDialog", "前边字符（正则）", "网址前面紧挨着的文字（可写正则）。\n例：<a href=\""},
    {"MultiLevelDialog", "后边字符（输出）", "网址后面紧挨着的文字。\n例：\">查看评论"},
    {"MultiLevelDialog", "网址中查找", "上级网址中要替换掉的部分。\n例：/news/"},
    {"MultiLevelDialog", "替换为", "换成的文字。\n例：/comment/"},
    {"MultiLevelDialog", "正则匹配模式", "查找与替换按正则表达式处理，替换为中可用 $1 引用分组。\n例：/(\\d+)\\.html 替换为 /c$1.html"},
    {"MultiLevelDialog", "包含分页", "这一级页面也有分页时勾选，按下面的分页区间找后面的各页。\n例：评论有很多页时勾选"},
    {"MultiLevelDialog", "分页区间开始", "这一级页面的分页链接所在区域开始处的文字。\n例：<div class=\"pages\">"},
    {"MultiLevelDialog", "分页区间结束", "分页区域结束处的文字。\n例：</div>"},
    {"MultiLevelDialog", "必须包含", "网址必须含有这些文字，多个用英文逗号隔开。\n例：comment"},
    {"MultiLevelDialog", "不得包含", "含有这些文字的网址不要，多个用英文逗号隔开。\n例：javascript"},
    {"MultiLevelDialog", "测试网址", "用来测试这一级规则的上级页面网址。\n例：http://www.example.com/news/123.html"},
    {"MultiLevelDialog", "testLevel", "抓取测试网址，按这一级的规则找出网址并显示在下面。\n例：填好测试网址后点此按钮"},

    // ---- field editor ----
    {"FieldEditorDialog", "title", "字段名称：也是任务数据库中的列名，发布时用 {采集字段:名称} 引用。\n例：标题"},
    {"FieldEditorDialog", "字段名称", "字段名称：也是任务数据库中的列名，发布时用 {采集字段:名称} 引用。\n例：标题"},
    {"FieldEditorDialog", "不能为空", "这个字段采集为空时，整篇内容不保存，下次运行再采。\n例：内容字段一般勾选"},
    {"FieldEditorDialog", "分页循环匹配", "文章有多页时，每一页都按本规则提取，再用分页连接符连起来。\n例：正文分成多页时，内容字段勾选"},
    {"FieldEditorDialog", "单页重复提取", "一页中匹配到多处时全部提取，用重复连接符连起来。\n例：提取文章的所有标签"},
    {"FieldEditorDialog", "多级页面获取", "从“多页提取”中设置的某一级页面中提取，而不是从内容页。\n例：从“评论页”提取评论"},
    {"FieldEditorDialog", "check_morepageindex", "从哪一级多级页面中提取。\n例：评论页"},
    {"FieldEditorDialog", "前后采集", "用前后两段文字截取中间的内容。\n例：前边字符 <h1>，后边字符 </h1>，取得标题"},
    {"FieldEditorDialog", "正则采集", "用正则表达式提取，可把几处内容组合成一个值。\n例：<span>作者：{参数1}</span>"},
    {"FieldEditorDialog", "自定义字符串", "不从网页提取：固定文字、随机选一行文字或随机数。\n例：作者字段固定为“本站编辑”"},
    {"FieldEditorDialog", "front", "要提取的内容前面紧挨着的文字，可用 {*} 代表任意文字。\n例：<div class=\"content\">"},
    {"FieldEditorDialog", "back", "要提取的内容后面紧挨着的文字。\n例：</div>"},
    {"FieldEditorDialog", "pattern", "正则规则：用 {参数1}、{参数2}… 标出要取的部分，{*} 代表任意文字。\n例：<span class=\"author\">{参数1}</span>"},
    {"FieldEditorDialog", "output", "合成结果：用取到的参数组成字段的值，留空即 {参数1}。\n例：{参数1}-{参数2}"},
    {"FieldEditorDialog", "固定字符串", "字段的值就是下面的文字（可含标签）。\n例：本站编辑"},
    {"FieldEditorDialog", "随机字符串", "每篇内容从下面各行中随机取一行。\n例：一行写“小王”，一行写“小李”"},
    {"FieldEditorDialog", "随机数", "每篇内容取最小值到最大值之间的一个随机整数。\n例：最小值 100，最大值 999"},
    {"FieldEditorDialog", "radio_3_content_min", "随机数的最小值。\n例：100"},
    {"FieldEditorDialog", "radio_3_content_max", "随机数的最大值。\n例：999"},
    {"FieldEditorDialog", "智能识别", "不写规则，由程序自动找出页面的文章部分（正文、标题、发布时间或作者）。\n例：采集很多不同网站的文章正文时选用"},
    {"FieldEditorDialog", "radio_4_content", "智能识别取文章的哪一部分：正文（干净的HTML）、标题、发布时间（YYYY-MM-DD HH:MM:SS）或作者。\n例：字段“内容”选 正文，字段“标题”选 标题"},
    {"*", "sourceAddress", "用来查看源码和试规则的网页地址，按任务的编码、Cookie 和浏览器标识打开。\n例：http://www.example.com/news/123.html"},
    {"*", "sourceSearch", "在下面的网页源码中查找文字，回车找下一处。\n例：<div class=\"content\">"},
    {"FieldEditorDialog", "madeUpText", "固定字符串，或随机字符串的各行（一行一个）；右键可插入标签。\n例：{dd:日期yyyy-mm-dd}"},
    {"FieldEditorDialog", "filter#", "勾选后去掉文中这种 HTML 标签，标签中的文字保留。\n例：勾选 a 去掉所有链接"},
    {"FieldEditorDialog", "ruleList", "内容处理规则：字段提取后按从上到下的顺序逐条处理。\n例：先“Html过滤”，再“内容替换”"},
    {"FieldEditorDialog", "newRule", "添加一条内容处理规则（替换、过滤、截取、分词等）。\n例：新建 → 内容替换"},
    {"FieldEditorDialog", "开启过滤功能", "按下面勾选的条件检查这个字段，不符合的整篇内容不保存。\n例：勾选后再勾“文字长度不能小于”并填 100"},
    {"FieldEditorDialog", "内容不能为空", "字段为空时整篇不保存。\n例：内容字段勾选"},
    {"FieldEditorDialog", "文字长度不能小于", "字段的文字少于这个字数时整篇不保存。\n例：100"},
    {"FieldEditorDialog", "文字长度不能大于", "字段的文字多于这个字数时整篇不保存。\n例：50000"},
    {"FieldEditorDialog", "内容必须包含", "字段中必须含有这些文字之一，多个用英文逗号隔开。\n例：新闻,报道"},
    {"FieldEditorDialog", "内容不得包含", "字段中含有这些文字之一时整篇不保存，多个用英文逗号隔开。\n例：广告,推广"},
    {"FieldEditorDialog", "图片最大张数", "字段中的图片多于这个张数时整篇不保存。\n例：10"},
    {"FieldEditorDialog", "附加操作", "被过滤掉的网址记为已采集，下次运行不再抓取。\n例：过滤掉的是广告页、不想再抓时勾选"},
    {"FieldEditorDialog", "downloadImages", "自动找出字段中的图片并下载到本地，内容中的图片地址随之改写。\n例：内容字段勾选"},
    {"FieldEditorDialog", "downloadAttachment", "下载字段中链接的附件文件（如 rar、pdf）。\n例：“下载地址”字段勾选"},
    {"FieldEditorDialog", "fileName", "下载后的新文件名，可右键插入标签；留空用原文件名。\n例：{dd:日期yyyymmdd}/{dd:MD5}"},
    {"FieldEditorDialog", "prefix", "附件地址前缀：发布后附件在网站上的网址前缀。\n例：http://www.mysite.com/uploads/"},
    {"FieldEditorDialog", "防盗链", "下载附件时把内容页作为来源（Referer）发送，对付防盗链的网站。\n例：图片下载后打不开时勾选"},
    {"FieldEditorDialog", "图片路径包含空格", "图片地址中带空格时勾选，按完整地址下载。\n例：/upload/my photo.jpg"},
    {"FieldEditorDialog", "sampleAddress", "用来预览新文件名的附件地址。\n例：http://www.example.com/upload/a.jpg"},
    {"FieldEditorDialog", "previewFileName", "按新文件全名的规则显示测试地址会得到的文件名。\n例：填好测试地址后点此按钮"},
    {"FieldEditorDialog", "pic_waterpic_check", "在下载的图片上加图片水印。\n例：加上本站的 logo"},
    {"FieldEditorDialog", "pic_water_filepath", "水印图片文件，png 可带透明。\n例：/home/user/logo.png"},
    {"FieldEditorDialog", "pic_transparent", "水印的不透明度 0–100，越大越清楚。\n例：60"},
    {"FieldEditorDialog", "pic_quality", "加水印后保存 JPEG 的质量 1–100。\n例：85"},
    {"FieldEditorDialog", "方式2", "用另一种方式叠加水印图片（保留水印自身的透明）。\n例：png 水印边缘发黑时勾选"},
    {"FieldEditorDialog", "pic_waterpic_origin", "水印位置：1 左上 2 上中 3 右上 4 左中 5 居中 6 右中 7 左下 8 下中 9 右下。\n例：9"},
    {"FieldEditorDialog", "偏移XY", "水印离图片边缘的距离（像素），左右、上下各一个。\n例：10 10"},
    {"FieldEditorDialog", "pic_waterstring_check", "在下载的图片上写一行文字水印。\n例：www.mysite.com"},
    {"FieldEditorDialog", "pic_water_string", "水印文字。\n例：www.mysite.com"},
    {"FieldEditorDialog", "pic_water_color", "水印文字的颜色。\n例：#FFFFFF（白色）"},
    {"FieldEditorDialog", "pic_water_fontsize", "水印文字的大小（像素）。\n例：20"},
    {"FieldEditorDialog", "pic_smallpic_check", "把第一张图片缩小另存为缩略图，发布模块中用 {dd:自动缩略图} 引用。\n例：宽 200，高 150"},
    {"FieldEditorDialog", "pic_smallpic_width", "缩略图的宽度（像素）。\n例：200"},
    {"FieldEditorDialog", "pic_smallpic_height", "缩略图的高度（像素）。\n例：150"},
    {"FieldEditorDialog", "pic_smallpic_newname", "缩略图的文件名，可右键插入标签。\n例：{dd:日期yyyymmdd}/{dd:MD5}_s.jpg"},

    // ---- post-processing rules (one page per rule type) ----
    {"rulePage_替换", "替换前", "要替换的文字，可用 {*} 代表任意文字。\n例：<a href={*}>"},
    {"rulePage_替换", "替换后", "替换成的文字，留空即删除。\n例：（留空）"},
    {"rulePage_替换", "不区分大小写", "查找时不分大小写。\n例：DIV 和 div 都替换"},
    {"rulePage_替换", "纯正则替换", "“替换前”按正则表达式处理，“替换后”可用 $1 引用分组。\n例：(\\d{4})-(\\d\\d) 替换为 $1年$2月"},
    {"rulePage_html过滤", "过滤", "去掉所选的 HTML 标签，保留其中的文字。\n例：勾选“a”去掉文中所有链接"},
    {"rulePage_正则提取", "提取前", "要保留部分前面的文字。\n例：<p>"},
    {"rulePage_正则提取", "提取后", "要保留部分后面的文字。\n例：</p>"},
    {"rulePage_正则提取", "重复提取", "提取所有匹配处。\n例：取出全部段落"},
    {"rulePage_正则提取", "连接符", "各处之间的连接文字。\n例：<br>"},
    {"rulePage_正则提取", "项首", "每一项前面加的文字。\n例：<li>"},
    {"rulePage_正则提取", "项尾", "每一项后面加的文字。\n例：</li>"},
    {"rulePage_正则提取", "最大数", "最多提取几处，0 表示不限。\n例：5"},
    {"rulePage_字符截取", "前边字符", "截取开始处的文字。\n例：<div id=\"text\">"},
    {"rulePage_字符截取", "后边字符", "截取结束处的文字。\n例：<div class=\"share\">"},
    {"rulePage_字符截取", "包含截取符", "结果中保留前后两段截取文字。\n例：截取一段完整的 <div>…</div>"},
    {"rulePage_字符截取", "无匹配字符,当前内容为空", "找不到截取文字时字段变为空，否则保持原值。\n例：只要带正文区域的页面时勾选"},
    {"rulePage_内容前后追加", "内容前边追加", "加在字段值前面的文字。\n例：<p>本文来源：网络</p>"},
    {"rulePage_内容前后追加", "内容末尾追加", "加在字段值后面的文字。\n例：<p>（完）</p>"},
    {"rulePage_空内容默认值", "内容默认值", "字段为空时用这个值。\n例：佚名"},
    {"rulePage_随机插入文本", "文本文件", "从这个文本文件中随机取行插入字段。\n例：/home/user/插入语句.txt"},
    {"rulePage_随机插入文本", "插入行数", "每次插入几行。\n例：1"},
    {"rulePage_随机插入文本", "插入位置", "插入到字段的什么地方。\n例：随机br,p结束标签后"},
    {"rulePage_特殊字符转化", "Unicode转汉字", "把 \\u4e2d 这样的编码变成汉字。\n例：\\u4e2d\\u6587 → 中文"},
    {"rulePage_特殊字符转化", "繁体转简体", "把繁体字转成简体字。\n例：資訊 → 资讯"},
    {"rulePage_特殊字符转化", "简体转繁体", "把简体字转成繁体字。\n例：资讯 → 資訊"},
    {"rulePage_时间转化", "时间格式", "转换后时间的格式。\n例：{dd:日期yyyy-mm-dd hh:nn:ss}"},
    {"rulePage_时间转化", "转换方式", "时间戳和北京时间之间的转换方向。\n例：1496041200 → 2017-05-29 15:00:00"},
    {"rulePage_关键词分词", "连接符", "关键词之间的连接文字。\n例：,"},
    {"rulePage_关键词分词", "提取最大个数", "最多取几个关键词。\n例：5"},
    {"rulePage_自定义词库分词", "指定关键词词库", "Plugin/diydict 下的词库文件，每行一个词。\n例：行业词库.txt"},
    {"rulePage_自定义词库分词", "连接符", "关键词之间的连接文字。\n例：,"},
    {"rulePage_自定义词库分词", "提取最大个数", "最多取几个关键词。\n例：5"},
    {"rulePage_同义词替换", "指定同义词词库", "Plugin/samekey 下的同义词文件，每行“原词,同义词”。\n例：同义词.txt"},
    {"rulePage_同义词替换", "替换最大词数", "最多替换多少个词，0 表示不限。\n例：10"},
    {"rulePage_关键词内链", "指定关键词词库", "Plugin/keyurl 下的文件，每行“关键词,网址”。\n例：内链.txt"},
    {"rulePage_关键词内链", "关键词最大数", "最多给多少个关键词加链接。\n例：5"},
    {"rulePage_关键词内链", "单词最大替换次数", "同一个关键词最多加几次链接。\n例：1"},
    {"rulePage_内容为空再次提取", "前边字符", "字段为空时，改用这对前后字符从页面再提取一次。\n例：<div id=\"text\">"},
    {"rulePage_内容为空再次提取", "后边字符", "再次提取用的后边字符。\n例：</div>"},
    {"rulePage_内容为空再次提取", "使用正则", "前后字符按正则表达式处理。\n例：<div id=\"(text|content)\">"},
    {"rulePage_内容为空再次提取", "重复提取", "提取所有匹配处。\n例：正文分成几段 <div> 时勾选"},
    {"rulePage_DLL插件", "附件名", "Plugin 文件夹中插件文件的名称。\n例：myplugin.so"},
    {"rulePage_JavaScript插件", "附件名", "Plugin 文件夹中脚本文件的名称。\n例：clean.js"},

    // ---- attachment upload settings ----
    {"UploadSettingsDialog", "Web发布", "附件通过网站上的接口文件上传。\n例：普通虚拟主机选这个"},
    {"UploadSettingsDialog", "FTP发布", "附件通过 FTP 上传到网站的文件夹。\n例：接口不允许上传大文件时选这个"},
    {"UploadSettingsDialog", "发布文章同时上传附件", "附件随文章一起提交。\n例：附件很小时"},
    {"UploadSettingsDialog", "先上传附件(批量)再发布文章", "先把一篇的全部附件一次传上去，再发布文章。\n例：图片较多的文章"},
    {"UploadSettingsDialog", "先上传附件(单独)再发布文章", "一个一个上传附件，再发布文章。\n例：附件较大时"},
    {"UploadSettingsDialog", "远程接口网址", "接收附件的接口网址，留空即用发布接口的网址。\n例：http://www.mysite.com/tarvex.php"},
    {"UploadSettingsDialog", "启用分片上传,分片大小", "大文件切成小块上传，避开网站的上传大小限制。\n例：1024（KB）"},
    {"UploadSettingsDialog", "FTP地址", "FTP 服务器的地址。\n例：ftp.mysite.com"},
    {"UploadSettingsDialog", "FTP端口", "FTP 端口，一般为 21。\n例：21"},
    {"UploadSettingsDialog", "用户名", "FTP 用户名。\n例：webuser"},
    {"UploadSettingsDialog", "密码", "FTP 密码。\n例：（空间商提供的密码）"},
    {"UploadSettingsDialog", "相对目录", "附件上传到 FTP 上的哪个文件夹（相对于登录后的目录）。\n例：/wwwroot/uploads/"},
    {"UploadSettingsDialog", "被动模式", "用被动模式传输，多数防火墙后的服务器需要勾选。\n例：一般保持勾选"},
    {"UploadSettingsDialog", "测试连接", "用上面的 FTP 设置登录一次，结果显示在测试日志中。\n例：填好地址、用户名、密码后点此按钮"},
    {"UploadSettingsDialog", "测试上传附件", "上传一个小测试文件到接口网址，检查 Web 上传是否可用。\n例：填好远程接口网址后点此按钮"},
    {"UploadSettingsDialog", "清空", "保存时删除本任务的附件上传设置，恢复为默认。\n例：不再上传附件时勾选"},
    {"UploadSettingsDialog", "保存时清空本任务的附件上传设置", "保存时删除本任务的附件上传设置，恢复为默认。\n例：不再上传附件时勾选"},

    // ---- site groups ----
    {"SiteGroupDialog", "启用多站发布", "勾选后内容发布到下面列出的每个站点，而不是“发布内容”页的单个网站。\n例：同时发布到主站和分站"},
    {"SiteGroupDialog", "sites", "发布的站点，每行一个：名称、发布规则、栏目和标记；双击修改。\n例：主站  wordpress 4.3  栏目 3  标记 a"},
    {"SiteEntryDialog", "名称", "站点的名称，只用来区分。\n例：主站"},
    {"SiteEntryDialog", "发布规则", "这个站点用的发布模块。\n例：wordpress 4.3"},
    {"SiteEntryDialog", "标记", "每个站点唯一的标记（字母或数字，最多 4 个），数据库据此记录是否已发布到该站。\n例：a"},
    {"SiteEntryDialog", "栏目id", "发布到该站的哪个栏目，可点“加载栏目”选择。\n例：3"},
    {"SiteEntryDialog", "备注(可不写)", "给自己看的说明。\n例：新闻站，每天 20 篇"},

    // ---- scheduler ----
    {"ScheduleDialog", "每小时第几分钟执行", "在每小时的哪几分钟启动任务，按住 Ctrl 可多选。\n例：选 0 和 30，每半小时一次"},
    {"ScheduleDialog", "每日几点执行", "在哪几个小时执行，多个用英文逗号隔开，留空为每小时。\n例：8,12,23"},
    {"ScheduleDialog", "每周星期几执行", "在星期几执行，1 为星期一 … 7 为星期日，留空为每天。\n例：1,3,5"},
    {"ScheduleDialog", "每月几号执行", "在每月的哪几天执行，留空为每天。\n例：1,15"},
    {"ScheduleDialog", "采集列表", "定时运行时采集列表页（找新的内容页网址）。\n例：一般勾选"},
    {"ScheduleDialog", "采集内容", "定时运行时采集内容页。\n例：一般勾选"},
    {"ScheduleDialog", "发布内容", "定时运行时发布采集到的内容。\n例：只采集不发布时取消"},
    {"ScheduleDialog", "任务名称", "这条计划运行的任务：在右边的任务树中选中任务后点“获取任务”。\n例：新闻采集"},
    {"ScheduleDialog", "scheduleTaskTree", "选择要定时运行的任务。\n例：本地任务 → 新闻采集"},
    {"AddToQueueDialog", "列表采集", "这次运行采集列表页。\n例：一般勾选"},
    {"AddToQueueDialog", "内容采集", "这次运行采集内容页。\n例：一般勾选"},
    {"AddToQueueDialog", "发布内容", "这次运行发布内容。\n例：只采集不发布时取消"},

    // ---- publish module editor ----
    {"ModuleEditorDialog", "moduleList", "发布模块（“发布规则”文件夹中的 .p 文件），双击打开编辑。\n例：wordpress 4.3"},
    {"ModuleEditorDialog", "moduleAddress", "网站上接口文件的网址，必须以 http 开头。\n例：http://www.mysite.com/tarvex.php"},
    {"ModuleEditorDialog", "moduleCharset", "提交给接口的文字编码，与网站一致。\n例：UTF-8"},
    {"ModuleEditorDialog", "moduleFields", "发布字段：名称是接口接收的字段名，内容可写 {采集字段:标题} 等标签；双击或按 F2 修改，右键插入标签。\n例：title = {采集字段:标题}"},
    {"ModuleEditorDialog", "testReply", "“测试发布”时网站接口的回复。\n例：succ|文章ID 25"},

    // ---- data browser and export ----
    {"DataBrowserWindow", "conditionBox", "查询条件（SQL 的 where 部分），或“执行SQL语句”要执行的语句。\n例：id>100 and 标题 like '%新闻%'"},
    {"DataBrowserWindow", "filterBox", "只显示某一类内容。\n例：已采集未发布"},
    {"DataBrowserWindow", "pageBox", "输入页码后按 Tab 跳到该页。\n例：3"},
    {"DataBrowserWindow", "statementBox", "常用语句，选中后填入条件框。\n例：人工审核='1'"},
    {"TextExportDialog", "文件名规则", "每条内容导出的文件名，可用 {采集字段:名称}。\n例：{采集字段:标题}"},
    {"TextExportDialog", "内容规则", "每个文件的内容，可用 {采集字段:名称}，点“快捷菜单”插入。\n例：{采集字段:标题} 换行 {采集字段:内容}"},
    {"TextExportDialog", "附加查询语句", "只导出符合条件的内容（SQL 的 where 部分），留空为全部。\n例：id>100"},

    {"TextExportDialog", "把每条记录导出到一个TXT", "每条内容写成一个 .txt 文件。\n例：标题.txt"},
    {"TextExportDialog", "把每条记录导出到单个文件夹(附件直接放在文件夹下)", "每条内容一个文件夹，其中有 .txt 文件和它的附件。\n例：标题/标题.txt、标题/1.jpg"},

    // ---- cookie capture ----
    {"CookieCaptureDialog", "cookieText", "取到的 Cookie，可修改后点“保存COOKIE并退出”。\n例：PHPSESSID=abc123; uid=1000"},
    {"CookieCaptureDialog", "address", "要登录的网站网址，打开后在下面的浏览器中登录。\n例：http://www.example.com/login.php"},
    {"CookieCaptureDialog", "userAgent", "用指定的浏览器标识打开网站，一般不用选。\n例：手机版网站选手机 UA"},
    {"CookieCaptureDialog", "httponly属性", "把带 httpOnly 属性的 Cookie 也取回来。\n例：登录后取回的 Cookie 不能用时勾选"},
};
// clang-format on

QString plain(const char* s) {
    return QString::fromUtf8(s);
}

// The scopes a widget is looked up in: the pages that hold it, nearest first, then its window.
QStringList scopesOf(const QWidget* w, const QString& windowKey) {
    QStringList scopes;
    for (const QWidget* p = w->parentWidget(); p && !p->isWindow(); p = p->parentWidget())
        if (p->objectName().startsWith("rulePage_")) scopes << p->objectName();
    scopes << windowKey;
    return scopes;
}

// The layout directly holding `w`, searched from `layout` down.
QLayout* holderOf(QLayout* layout, QWidget* w) {
    if (!layout) return nullptr;
    if (layout->indexOf(w) >= 0) return layout;
    for (int i = 0; i < layout->count(); ++i)
        if (QLayout* found = holderOf(layout->itemAt(i)->layout(), w)) return found;
    return nullptr;
}

QWidget* firstWidget(QLayoutItem* item) {
    if (!item) return nullptr;
    if (item->widget()) return item->widget();
    if (QLayout* l = item->layout())
        for (int i = 0; i < l->count(); ++i)
            if (QWidget* w = firstWidget(l->itemAt(i))) return w;
    return nullptr;
}

bool isInput(const QWidget* w) {
    return w && !w->inherits("QLabel") && !w->inherits("QAbstractButton");
}

// The fields a label (or a check box) names: its buddy, its form row's field, or the inputs
// after it in its row up to the next label or button.
QList<QWidget*> partnersOf(QWidget* w) {
    if (auto* label = qobject_cast<QLabel*>(w); label && label->buddy()) return {label->buddy()};
    QLayout* holder = w->parentWidget() ? holderOf(w->parentWidget()->layout(), w) : nullptr;
    if (!holder) return {};
    if (auto* form = qobject_cast<QFormLayout*>(holder)) {
        int row = -1;
        QFormLayout::ItemRole role;
        form->getWidgetPosition(w, &row, &role);
        QLayoutItem* item = nullptr;
        if (role == QFormLayout::LabelRole)
            item = form->itemAt(row, QFormLayout::FieldRole);
        else if (role == QFormLayout::SpanningRole && row + 1 < form->rowCount())
            item = form->itemAt(row + 1, QFormLayout::SpanningRole);
        QWidget* field = item && item->widget() ? item->widget() : firstWidget(item);
        return isInput(field) ? QList<QWidget*>{field} : QList<QWidget*>{};
    }
    QList<QWidget*> out;
    for (int i = holder->indexOf(w) + 1; i < holder->count(); ++i) {
        QWidget* next = firstWidget(holder->itemAt(i));
        if (!isInput(next)) break;
        out << next;
    }
    return out;
}

QString captionOf(const QWidget* w) {
    if (auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
    if (auto* l = qobject_cast<const QLabel*>(w)) return l->text();
    if (auto* g = qobject_cast<const QGroupBox*>(w)) return g->title();
    return {};
}

}  // namespace

std::span<const Tooltip> tooltipTable() {
    return kTooltips;
}

QString captionKey(const QString& text) {
    QString t = text;
    t.remove('&');
    for (const QChar stop : {QChar(0xFF1A), QChar(':')}) {
        const int at = t.indexOf(stop);
        if (at > 0) t.truncate(at);
    }
    return t.trimmed();
}

QString tooltipFor(const QStringList& scopes, const QString& key) {
    static const QHash<QString, QString> table = [] {
        QHash<QString, QString> h;
        for (const auto& t : kTooltips) h.insert(plain(t.scope) + '\n' + plain(t.key), plain(t.text));
        return h;
    }();
    if (key.isEmpty()) return {};
    // Numbered widgets of one kind ("filter0", "filter1", …) share the entry "filter#".
    QString numbered = key;
    numbered.replace(QRegularExpression("[0-9]+$"), "#");
    for (const QString& k : {key, numbered}) {
        for (const QString& scope : scopes + QStringList{"*"}) {
            auto it = table.constFind(scope + '\n' + k);
            if (it != table.constEnd()) return *it;
        }
        if (numbered == key) break;
    }
    return {};
}

void applyTooltips(QWidget* window) {
    if (!window) return;
    QString windowKey = QString::fromLatin1(window->metaObject()->className());
    windowKey = windowKey.mid(windowKey.lastIndexOf(':') + 1);
    for (QWidget* w : window->findChildren<QWidget*>()) {
        // Windows the window owns (its dialogs) get their tooltips when they are shown. A tooltip
        // set in code stays unless the table has a fuller one (with an example).
        if (w->window() != window || w->toolTip().contains(QString::fromUtf8("例"))) continue;
        const QStringList scopes = scopesOf(w, windowKey);
        QString tip = tooltipFor(scopes, w->objectName());
        const bool byCaption = tip.isEmpty();
        if (byCaption) tip = tooltipFor(scopes, captionKey(captionOf(w)));
        if (tip.isEmpty()) continue;
        w->setToolTip(tip);
        if (!byCaption || !(w->inherits("QLabel") || w->inherits("QCheckBox"))) continue;
        for (QWidget* field : partnersOf(w)) {
            if (field->toolTip().isEmpty()) field->setToolTip(tip);
            // A field made of several parts (a text box with its buttons, a row of choices).
            for (QWidget* part : field->findChildren<QWidget*>())
                if (!part->inherits("QLabel") && part->toolTip().isEmpty()) part->setToolTip(tip);
        }
    }
}

}  // namespace tarvex::ui
