<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>ApiError</name>
    <message>
        <source>请求超时，请检查网络连接</source>
        <translation>The request timed out; please check the network connection</translation>
    </message>
    <message>
        <source>访问被拒绝 (403)</source>
        <translation>Access denied (403)</translation>
    </message>
    <message>
        <source>请求的资源不存在 (404)</source>
        <translation>The requested resource does not exist (404)</translation>
    </message>
    <message>
        <source>需要登录或Token无效 (401)</source>
        <translation>Login required or token invalid (401)</translation>
    </message>
    <message>
        <source>客户端错误 (HTTP %1) %2</source>
        <translation>Client error (HTTP %1) %2</translation>
    </message>
    <message>
        <source>服务器错误 (HTTP %1) %2</source>
        <translation>Server error (HTTP %1) %2</translation>
    </message>
    <message>
        <source>请求失败 (%1)</source>
        <translation>Request failed (%1)</translation>
    </message>
    <message>
        <source>服务器已关闭连接</source>
        <translation>The server closed the connection</translation>
    </message>
    <message>
        <source>DNS解析失败，无法找到服务器</source>
        <translation>DNS lookup failed; the server cannot be found</translation>
    </message>
    <message>
        <source>服务器拒绝连接，请检查服务器是否在线</source>
        <translation>The server refused the connection; please check that it is online</translation>
    </message>
    <message>
        <source>网络错误 (%1): %2</source>
        <translation>Network error (%1): %2</translation>
    </message>
    <message>
        <source>服务器响应过大 (超过 %1 MiB)，请求已中止</source>
        <translation>The server&apos;s reply is too large (over %1 MiB); the request was stopped</translation>
    </message>
    <message>
        <source>服务器重定向到其他地址 (%1 → %2)</source>
        <translation>The server redirected to another address (%1 → %2)</translation>
    </message>
    <message>
        <source>服务器响应格式错误 (HTTP %1): %2</source>
        <translation>The server&apos;s reply is malformed (HTTP %1): %2</translation>
    </message>
    <message>
        <source>服务器返回的数据无效</source>
        <translation>The server returned invalid data</translation>
    </message>
    <message>
        <source>未知错误</source>
        <translation>Unknown error</translation>
    </message>
</context>
<context>
    <name>EffectManager</name>
    <message>
        <source>星星</source>
        <translation>Stars</translation>
    </message>
    <message>
        <source>烟花</source>
        <translation>Fireworks</translation>
    </message>
    <message>
        <source>数字飘动</source>
        <translation>Floating numbers</translation>
    </message>
    <message>
        <source>屏幕震动</source>
        <translation>Screen shake</translation>
    </message>
    <message>
        <source>彩虹光环</source>
        <translation>Rainbow halo</translation>
    </message>
    <message>
        <source>金币雨</source>
        <translation>Coin rain</translation>
    </message>
    <message>
        <source>蝴蝶</source>
        <translation>Butterflies</translation>
    </message>
    <message>
        <source>闪电</source>
        <translation>Lightning</translation>
    </message>
    <message>
        <source>火焰</source>
        <translation>Flames</translation>
    </message>
    <message>
        <source>水滴</source>
        <translation>Water drops</translation>
    </message>
    <message>
        <source>花瓣</source>
        <translation>Petals</translation>
    </message>
    <message>
        <source>音符</source>
        <translation>Music notes</translation>
    </message>
    <message>
        <source>雪花</source>
        <translation>Snowflakes</translation>
    </message>
    <message>
        <source>气泡</source>
        <translation>Bubbles</translation>
    </message>
    <message>
        <source>星星爆炸</source>
        <translation>Star burst</translation>
    </message>
    <message>
        <source>彩虹</source>
        <translation>Rainbow</translation>
    </message>
    <message>
        <source>黑洞</source>
        <translation>Black hole</translation>
    </message>
    <message>
        <source>极光</source>
        <translation>Aurora</translation>
    </message>
    <message>
        <source>樱花</source>
        <translation>Cherry blossoms</translation>
    </message>
    <message>
        <source>美元</source>
        <translation>Dollars</translation>
    </message>
    <message>
        <source>欧元</source>
        <translation>Euros</translation>
    </message>
    <message>
        <source>英镑</source>
        <translation>Pounds</translation>
    </message>
    <message>
        <source>钻石</source>
        <translation>Diamonds</translation>
    </message>
    <message>
        <source>皇冠</source>
        <translation>Crowns</translation>
    </message>
    <message>
        <source>魔法阵</source>
        <translation>Magic circle</translation>
    </message>
    <message>
        <source>灵魂</source>
        <translation>Souls</translation>
    </message>
    <message>
        <source>骷髅</source>
        <translation>Skulls</translation>
    </message>
    <message>
        <source>天使</source>
        <translation>Angels</translation>
    </message>
    <message>
        <source>恶魔</source>
        <translation>Demons</translation>
    </message>
    <message>
        <source>猫咪</source>
        <translation>Kittens</translation>
    </message>
    <message>
        <source>狗狗</source>
        <translation>Puppies</translation>
    </message>
    <message>
        <source>锦鲤</source>
        <translation>Koi</translation>
    </message>
    <message>
        <source>飞龙</source>
        <translation>Dragon</translation>
    </message>
    <message>
        <source>凤凰</source>
        <translation>Phoenix</translation>
    </message>
    <message>
        <source>圣光</source>
        <translation>Holy light</translation>
    </message>
    <message>
        <source>暗黑</source>
        <translation>Darkness</translation>
    </message>
    <message>
        <source>时光</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>星辰</source>
        <translation>Galaxy</translation>
    </message>
    <message>
        <source>创世</source>
        <translation>Genesis</translation>
    </message>
    <message>
        <source>未知</source>
        <translation>Unknown</translation>
    </message>
</context>
<context>
    <name>InterfaceLanguage</name>
    <message>
        <source>简体中文</source>
        <translation>English</translation>
    </message>
</context>
<context>
    <name>LoginDialog</name>
    <message>
        <source>TapTempest - 登录</source>
        <translation>TapTempest - Log in</translation>
    </message>
    <message>
        <source>欢迎使用 TapTempest</source>
        <translation>Welcome to TapTempest</translation>
    </message>
    <message>
        <source>请使用 CoinVale 账号登录</source>
        <translation>Log in with your CoinVale account</translation>
    </message>
    <message>
        <source>请输入用户名</source>
        <translation>Enter your user name</translation>
    </message>
    <message>
        <source>用户名:</source>
        <translation>User name:</translation>
    </message>
    <message>
        <source>请输入密码</source>
        <translation>Enter your password</translation>
    </message>
    <message>
        <source>密码:</source>
        <translation>Password:</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>登录</source>
        <translation>Log in</translation>
    </message>
    <message>
        <source>用户名和密码不能为空</source>
        <translation>User name and password must not be empty</translation>
    </message>
    <message>
        <source>登录中...</source>
        <translation>Logging in...</translation>
    </message>
    <message>
        <source>登录失败，请检查用户名和密码</source>
        <translation>Login failed; please check your user name and password</translation>
    </message>
    <message>
        <source>网络错误: %1</source>
        <translation>Network error: %1</translation>
    </message>
    <message>
        <source>用户名</source>
        <translation>User name</translation>
    </message>
    <message>
        <source>密码</source>
        <translation>Password</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>TapTempest - 点击游戏</source>
        <translation>TapTempest - Clicker game</translation>
    </message>
    <message>
        <source>用户信息</source>
        <translation>Player</translation>
    </message>
    <message>
        <source>用户:</source>
        <translation>User:</translation>
    </message>
    <message>
        <source>总点击:</source>
        <translation>Clicks:</translation>
    </message>
    <message>
        <source>可以兑换金币或存入银行的点击数；已花掉的点击不再计入</source>
        <translation>Clicks you can exchange for gold or deposit in the bank; clicks already spent no longer count</translation>
    </message>
    <message>
        <source>金币:</source>
        <translation>Gold:</translation>
    </message>
    <message>
        <source>银行余额:</source>
        <translation>Bank balance:</translation>
    </message>
    <message>
        <source>0 元</source>
        <translation>0 yuan</translation>
    </message>
    <message>
        <source>兑换金币</source>
        <translation>Exchange gold</translation>
    </message>
    <message>
        <source>存入银行</source>
        <translation>Deposit</translation>
    </message>
    <message>
        <source>特效商店</source>
        <translation>Effect shop</translation>
    </message>
    <message>
        <source>排行榜</source>
        <translation>Ranking</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>切换主题</source>
        <translation>Switch theme</translation>
    </message>
    <message>
        <source>退出登录</source>
        <translation>Log out</translation>
    </message>
    <message>
        <source>%1 元</source>
        <translation>%1 yuan</translation>
    </message>
    <message>
        <source>网络错误: %1</source>
        <translation>Network error: %1</translation>
    </message>
    <message>
        <source>您没有可兑换的点击数!</source>
        <translation>You have no clicks to exchange!</translation>
    </message>
    <message>
        <source>兑换最少需要 100 点击</source>
        <translation>An exchange needs at least 100 clicks</translation>
    </message>
    <message numerus="yes">
        <source>您当前有 %1 点击数
100 点击 = 1 金币

请输入要兑换的点击数:</source>
        <translation>
            <numerusform>You have %1 click
100 clicks = 1 gold

Clicks to exchange:</numerusform>
            <numerusform>You have %1 clicks
100 clicks = 1 gold

Clicks to exchange:</numerusform>
        </translation>
    </message>
    <message>
        <source>确认兑换</source>
        <translation>Confirm exchange</translation>
    </message>
    <message>
        <source>您没有点击数可存入!
请先点击获取点击数。</source>
        <translation>You have no clicks to deposit!
Click first to earn some.</translation>
    </message>
    <message numerus="yes">
        <source>您当前有 %1 点击数
1 点击 = 10 元

请输入要存入的点击数:</source>
        <translation>
            <numerusform>You have %1 click
1 click = 10 yuan

Clicks to deposit:</numerusform>
            <numerusform>You have %1 clicks
1 click = 10 yuan

Clicks to deposit:</numerusform>
        </translation>
    </message>
    <message>
        <source>确认存入</source>
        <translation>Confirm deposit</translation>
    </message>
    <message>
        <source>兑换失败</source>
        <translation>Exchange failed</translation>
    </message>
    <message>
        <source>存入失败</source>
        <translation>Deposit failed</translation>
    </message>
    <message>
        <source>浅色主题</source>
        <translation>Light theme</translation>
    </message>
    <message>
        <source>深色主题</source>
        <translation>Dark theme</translation>
    </message>
    <message>
        <source>已切换到深色主题</source>
        <translation>Switched to the dark theme</translation>
    </message>
    <message>
        <source>已切换到浅色主题</source>
        <translation>Switched to the light theme</translation>
    </message>
    <message>
        <source>设置已更新</source>
        <translation>Settings updated</translation>
    </message>
    <message>
        <source>确定要退出登录吗?</source>
        <translation>Do you really want to log out?</translation>
    </message>
    <message>
        <source>点击</source>
        <translation>Click</translation>
    </message>
    <message>
        <source>每按一次得 1 次点击，并播放已开启的特效</source>
        <translation>Each press earns one click and plays the effects that are on</translation>
    </message>
    <message numerus="yes">
        <source>将用 %n 点击数兑换 %1 金币
是否确定?</source>
        <translation>
            <numerusform>Exchange %n click for %1 gold?</numerusform>
            <numerusform>Exchange %n clicks for %1 gold?</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>将 %n 点击数存入 CoinVale
获得 %1 元存款
是否确定?</source>
        <translation>
            <numerusform>Deposit %n click in CoinVale
for %1 yuan?</numerusform>
            <numerusform>Deposit %n clicks in CoinVale
for %1 yuan?</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>RankingDialog</name>
    <message>
        <source>点击排行榜</source>
        <translation>Click ranking</translation>
    </message>
    <message>
        <source>显示数量:</source>
        <translation>Show:</translation>
    </message>
    <message>
        <source>刷新</source>
        <translation>Refresh</translation>
    </message>
    <message>
        <source>排名</source>
        <translation>Rank</translation>
    </message>
    <message>
        <source>用户名</source>
        <translation>User name</translation>
    </message>
    <message>
        <source>总点击数</source>
        <translation>Total clicks</translation>
    </message>
    <message>
        <source>玩家累计点击的总数，兑换或存入银行的点击也算在内</source>
        <translation>All clicks a player ever made, including those exchanged or deposited</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>加载排行榜中...</source>
        <translation>Loading the ranking...</translation>
    </message>
    <message>
        <source>加载失败: %1</source>
        <translation>Loading failed: %1</translation>
    </message>
    <message>
        <source>网络错误: %1</source>
        <translation>Network error: %1</translation>
    </message>
    <message>
        <source>显示数量</source>
        <translation>Rows shown</translation>
    </message>
    <message numerus="yes">
        <source>第 %1 名: %2, %3 次点击</source>
        <translation>
            <numerusform>Rank %1: %2, %3 click</numerusform>
            <numerusform>Rank %1: %2, %3 clicks</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>显示 %n 条记录</source>
        <translation>
            <numerusform>Showing %n entry</numerusform>
            <numerusform>Showing %n entries</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>SessionText</name>
    <message>
        <source>已同步到服务器</source>
        <translation>Synchronised with the server</translation>
    </message>
    <message>
        <source>网络离线: 点击将在恢复后同步</source>
        <translation>Offline: clicks will be sent when the network is back</translation>
    </message>
    <message>
        <source>加载用户数据失败: %1</source>
        <translation>Loading the player&apos;s figures failed: %1</translation>
    </message>
    <message>
        <source>登录已过期，请重新登录</source>
        <translation>Your login has expired; please log in again</translation>
    </message>
    <message>
        <source>兑换成功: +%1 金币</source>
        <translation>Exchanged: +%1 gold</translation>
    </message>
    <message>
        <source>存入成功: +%1 元</source>
        <translation>Deposited: +%1 yuan</translation>
    </message>
</context>
<context>
    <name>SettingsDialog</name>
    <message>
        <source>设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>主题设置</source>
        <translation>Theme</translation>
    </message>
    <message>
        <source>深色主题</source>
        <translation>Dark theme</translation>
    </message>
    <message>
        <source>强调色:</source>
        <translation>Accent colour:</translation>
    </message>
    <message>
        <source>界面语言:</source>
        <translation>Interface language:</translation>
    </message>
    <message>
        <source>重启后生效</source>
        <translation>Takes effect at the next start</translation>
    </message>
    <message>
        <source>按钮设置</source>
        <translation>Button</translation>
    </message>
    <message>
        <source>按钮宽度:</source>
        <translation>Button width:</translation>
    </message>
    <message>
        <source>按钮高度:</source>
        <translation>Button height:</translation>
    </message>
    <message>
        <source>圆角半径:</source>
        <translation>Corner radius:</translation>
    </message>
    <message>
        <source>按钮颜色:</source>
        <translation>Button colour:</translation>
    </message>
    <message>
        <source>边框宽度:</source>
        <translation>Border width:</translation>
    </message>
    <message>
        <source>边框颜色:</source>
        <translation>Border colour:</translation>
    </message>
    <message>
        <source>特效设置</source>
        <translation>Effects</translation>
    </message>
    <message>
        <source>启用视觉特效</source>
        <translation>Visual effects</translation>
    </message>
    <message>
        <source>启用音效</source>
        <translation>Sound effects</translation>
    </message>
    <message>
        <source>勾选启用已购买的特效:</source>
        <translation>Tick the bought effects to switch them on:</translation>
    </message>
    <message>
        <source>重置默认</source>
        <translation>Reset to defaults</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>应用</source>
        <translation>Apply</translation>
    </message>
    <message>
        <source>选择强调色</source>
        <translation>Choose accent colour</translation>
    </message>
    <message>
        <source>选择按钮颜色</source>
        <translation>Choose button colour</translation>
    </message>
    <message>
        <source>选择边框颜色</source>
        <translation>Choose border colour</translation>
    </message>
    <message>
        <source>强调色</source>
        <translation>Accent colour</translation>
    </message>
    <message>
        <source>按钮颜色</source>
        <translation>Button colour</translation>
    </message>
    <message>
        <source>边框颜色</source>
        <translation>Border colour</translation>
    </message>
    <message>
        <source>显示当前颜色，按下可选择其他颜色</source>
        <translation>Shows the current colour; press to choose another</translation>
    </message>
    <message>
        <source> (%1 金币)</source>
        <translation> (%1 gold)</translation>
    </message>
    <message>
        <source>未购买</source>
        <translation>not bought</translation>
    </message>
    <message>
        <source>减少动态效果: 关闭后点击不再播放任何特效, 窗口也不再震动; 按钮自身的按下反馈和“+1”保留, 已购买的特效和各自的开关不变</source>
        <translation>Reduce motion: when off, clicks play no effects and the window no longer shakes; the button&apos;s own press feedback and &quot;+1&quot; stay, and bought effects and their switches are kept</translation>
    </message>
    <message>
        <source>按应用后生效</source>
        <translation>Takes effect when you press Apply</translation>
    </message>
    <message>
        <source>重启后生效; 本次运行的语言由 TAPTEMPEST_LANG 决定</source>
        <translation>Takes effect at the next start; TAPTEMPEST_LANG sets it for this run</translation>
    </message>
</context>
<context>
    <name>ShopDialog</name>
    <message>
        <source>特效商店</source>
        <translation>Effect shop</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>金币: %1</source>
        <translation>Gold: %1</translation>
    </message>
    <message>
        <source>加载特效列表中...</source>
        <translation>Loading the effects...</translation>
    </message>
    <message>
        <source>提示</source>
        <translation>Note</translation>
    </message>
    <message>
        <source>您已经拥有此特效!</source>
        <translation>You already own this effect!</translation>
    </message>
    <message>
        <source>购买中...</source>
        <translation>Buying...</translation>
    </message>
    <message>
        <source>金币不足</source>
        <translation>Not enough gold</translation>
    </message>
    <message>
        <source>您的金币不足，请先兑换金币!</source>
        <translation>You do not have enough gold; exchange some clicks first!</translation>
    </message>
    <message>
        <source>购买成功: %1</source>
        <translation>Bought: %1</translation>
    </message>
    <message>
        <source>购买失败: %1</source>
        <translation>Purchase failed: %1</translation>
    </message>
    <message>
        <source>购买失败</source>
        <translation>Purchase failed</translation>
    </message>
    <message>
        <source>加载失败: %1</source>
        <translation>Loading failed: %1</translation>
    </message>
    <message>
        <source>%1 - %2 金币 %3</source>
        <translation>%1 - %2 gold %3</translation>
    </message>
    <message>
        <source>(已拥有)</source>
        <translation>(owned)</translation>
    </message>
    <message>
        <source>(点击购买)</source>
        <translation>(click to buy)</translation>
    </message>
    <message>
        <source>网络错误: %1</source>
        <translation>Network error: %1</translation>
    </message>
    <message>
        <source>特效列表</source>
        <translation>Effects</translation>
    </message>
    <message>
        <source>价格 %1 金币，已拥有</source>
        <translation>Price %1 gold, owned</translation>
    </message>
    <message>
        <source>价格 %1 金币，未拥有，按下购买</source>
        <translation>Price %1 gold, not owned; press to buy</translation>
    </message>
    <message numerus="yes">
        <source>共 %n 个特效</source>
        <translation>
            <numerusform>%n effect</numerusform>
            <numerusform>%n effects</numerusform>
        </translation>
    </message>
</context>
</TS>
