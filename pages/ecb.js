// ecb.js - the script every page of the Ethernet Coax Bridge page set loads first.
//
// It keeps the page-side copy of the bridge's settings, turns user actions into "app:" commands
// for the configuration program and receives the values that the program reads from the bridge.
// The program is reached only through window.navigate(): the program's page host defines it and
// answers each app: URL before the call returns (so MFCConfirm can read its answer at once).
//
// Load order on every page: style.css, ecb.js, then the data scripts (version.js, 1, 1D, 1P, 2,
// 3), then the page's own script. The data scripts must come after this file, or the initial
// values below would overwrite their placeholders.

// ---- Settings model --------------------------------------------------------------------------

var fware_ver = '0.0.0';             // firmware version text of the bridge
var local_pswd;                      // local administrator password (data script "1" / storeConfig)
var mypswd = 'quib';                 // reference password of isTest()
var iReboot = 0;                     // 1: the setup pages show their reboot link
var DHCP_IPADDR = '0.0.0.0';         // address shown by the status page when dhcp is 1
var coax_MAC = '';                   // coax MAC address text
var newwindow = '';                  // window kept by PopUpWindow()
var dhcp = 0;                        // 1 when the bridge takes its address by DHCP
var SwConfig = 0;                    // software configuration word; bit 12 = MoCA privacy
var channel = 0;                     // operating frequency in Hz, 0 when none
var channelPlan = 1;                 // non-zero: 25 MHz steps counted from 1; 0: 50 MHz from 0
var channelMask = 0;                 // bit n-1 stands for channel n
var productMask = 0;                 // channels the product supports, same layout
var viewable = '40527163948205716';  // network password shown when privacy is on (factory default)
var diplexer_mode = 0;               // 0 = MoCA D band, 1 = all pass
var moca_pswd = '';                  // MoCA privacy (network) password

// Later revision of the library.
var scanMask = 0;                    // channels the bridge scans for a network, same layout as channelMask
var app_ver = '';                    // version of the configuration program (CallbackAppVer)
var config_loaded = 0;               // set by a page's display_config once the bridge's values arrived
var hourglass_on = 0;                // 1 while SetHourglass shows a busy page
var confirm_answer = '';             // answer delivered by CallbackConfirm during MFCConfirm

var PRIVACY_BIT = 0x1000;            // bit 12 of SwConfig

// What "Restore Defaults" writes to the bridge: the settings of a bridge fresh from the factory.
// SwConfig is not listed: only its privacy bit is cleared, its other bits describe the hardware
// and are kept as read.
var FACTORY_DEFAULTS = {
    admPswd: 'admin',                // local administrator password
    channelMask: 357908480,          // all eight D-band channels: the setup page shows SCAN
    scanMask: 357908480,             // 0x15554000: the eight MoCA D-band channels 15, 17, ... 29
    password: '40527163948205716',   // MoCA network password (the same text as viewable)
    DiplexerMode: 0                  // MoCA D band
};

// ---- Program commands ------------------------------------------------------------------------

var EVENT_CLOSEDLG = 'app:1000@';
var EVENT_RESIZE = 'app:1001@';
var EVENT_NAVIGATE = 'app:1002@';
var FUNC_LOGIN = 'app:1003@0:';
var FUNC_GETCONFIG = 'app:1003@1:';
var FUNC_SET_ADMIN_PSWD = 'app:1003@2:';
var FUNC_SET_CHAN_MASK = 'app:1003@3:';
var FUNC_SET_SWCONFIG = 'app:1003@4:';
var FUNC_SET_MOCA_PSWD = 'app:1003@5:';
var FUNC_SET_DIPLEXER_MODE = 'app:1003@6:';
var FUNC_SET_CONFIG = 'app:1003@7:';
var FUNC_UPGRADE_IMAGE = 'app:1003@8:';
var FUNC_GET_DIAG = 'app:1003@9:';
var FUNC_REBOOT = 'app:1003@10:';        // REQ_ACTION: the bridge restarts
var FUNC_SET_SCAN_MASK = 'app:1003@11:';
var FUNC_GET_PROD_ID = 'app:1003@12:';
var FUNC_GET_IMAGE_VER = 'app:1003@13:';
var FUNC_READ_IMAGE_VER = 'app:1003@14:';
var FUNC_GET_FW_VER = 'app:1003@15:';
var EVENT_MSGBOX = 'app:1004@';
var EVENT_CLEAR_QUEUE = 'app:1005@';
var EVENT_SET_CALLBACK = 'app:1006@';
var EVENT_GET_APP_VER = 'app:1007@';
var EVENT_CONFIRM = 'app:1008@';

// Hands one command to the program. Outside the program (a page opened in an ordinary browser)
// there is no window.navigate and the command is dropped, so the page still shows.
function sendCommand(url)
{
    if (typeof window.navigate == 'function')
        window.navigate(url);
}

function MFCDoCancel() { sendCommand(EVENT_CLOSEDLG); }
function MFCDoResize(nWidth, nHeight) { sendCommand(EVENT_RESIZE + nWidth + '@' + nHeight); }
function MFCDoNavigate(url) { sendCommand(EVENT_NAVIGATE + url); }
function ShowHelp(URL) { MFCDoNavigate(URL); }
function MFCLogin(password) { sendCommand(FUNC_LOGIN + password); }
function MFCGetConfig() { sendCommand(FUNC_GETCONFIG); }
function MFCSetAdminPswd() { sendCommand(FUNC_SET_ADMIN_PSWD + local_pswd); }
function MFCSetChannelMask() { sendCommand(FUNC_SET_CHAN_MASK + channelMask); }
function MFCSetSwConfig() { sendCommand(FUNC_SET_SWCONFIG + SwConfig); }
function MFCSetMocaPswd() { sendCommand(FUNC_SET_MOCA_PSWD + moca_pswd); }
function MFCSetDiplexerMode() { sendCommand(FUNC_SET_DIPLEXER_MODE + diplexer_mode); }
function MFCSetAllConfig() { sendCommand(FUNC_SET_CONFIG); }
function MFCUpgradeImage(fileName) { sendCommand(FUNC_UPGRADE_IMAGE + fileName); }

// Later revision.
function MFCSetScanMask() { sendCommand(FUNC_SET_SCAN_MASK + scanMask); }
function MFCGetDiag() { sendCommand(FUNC_GET_DIAG); }
function MFCRebootDevice() { sendCommand(FUNC_REBOOT); }
function MFCGetProdID() { sendCommand(FUNC_GET_PROD_ID); }
function MFCGetImageVer() { sendCommand(FUNC_GET_IMAGE_VER); }
function MFCReadImageVersion(fileName) { sendCommand(FUNC_READ_IMAGE_VER + fileName); }
function MFCGetFwVer() { sendCommand(FUNC_GET_FW_VER); }
function MFCClearCmdQueue() { sendCommand(EVENT_CLEAR_QUEUE); }
function MFCGetAppVer() { sendCommand(EVENT_GET_APP_VER); }
function MFCSetHtmlCallback(name) { sendCommand(EVENT_SET_CALLBACK + name); }

// Message box texts travel with their blanks as "%20"; the program turns them back into blanks.
// The caption ends at the first comma, so commas in a caption become blanks.
function boxText(text) { return String(text).replace(/ /g, '%20'); }
function boxCaption(caption) { return boxText(String(caption).replace(/,/g, ' ')); }

function MFCMsgBox(caption, text)
{
    sendCommand(EVENT_MSGBOX + boxCaption(caption) + ',' + boxText(text));
}

// Asks a Yes/No question through the program. The program calls CallbackConfirm with "1" (Yes)
// or "0" before the command returns, so the answer is known here.
function MFCConfirm(caption, question)
{
    confirm_answer = '0';
    sendCommand(EVENT_CONFIRM + boxCaption(caption) + ',' + boxText(question));
    return confirm_answer == '1';
}

function CallbackConfirm(answer) { confirm_answer = String(answer); }
function CallbackAppVer(version) { app_ver = String(version); }

// Writes the factory settings into the program's pending values and sends them to the bridge in
// one configuration write. The write's completion reaches the function registered with
// MFCSetHtmlCallback; the caller reads the configuration back afterwards.
function MFCRestoreDefaults()
{
    local_pswd = FACTORY_DEFAULTS.admPswd;
    channelMask = FACTORY_DEFAULTS.channelMask;
    scanMask = FACTORY_DEFAULTS.scanMask;
    SwConfig = (Number(SwConfig) & ~PRIVACY_BIT) >>> 0;
    moca_pswd = FACTORY_DEFAULTS.password;
    diplexer_mode = FACTORY_DEFAULTS.DiplexerMode;
    MFCSetAdminPswd();
    MFCSetChannelMask();
    MFCSetScanMask();
    MFCSetSwConfig();
    MFCSetMocaPswd();
    MFCSetDiplexerMode();
    MFCSetAllConfig();
}

// Shows a busy page while on is 1 and disables the controls called name; on 0 undoes both.
function SetHourglass(on, name)
{
    hourglass_on = (on == 1) ? 1 : 0;
    if (document.body)
        document.body.style.cursor = hourglass_on ? 'wait' : '';
    if (name) {
        var controls = document.getElementsByName(name);
        for (var i = 0; i < controls.length; i++)
            controls[i].disabled = hourglass_on ? true : false;
    }
}

// Goes to another page of the set, but not while an operation of this page is still running
// (its result would arrive at a page that no longer waits for it).
function ConditionalNavigate(page)
{
    if (hourglass_on) {
        alert('Please wait until the current operation has finished.');
        return false;
    }
    window.location.href = page;
    return false;
}

// ---- Values from the program -----------------------------------------------------------------

// Turns the program's array argument into a script array (the program's list, reversed).
function vbToArray(ar)
{
    if (ar && typeof ar.toArray == 'function')
        return ar.toArray();
    if (typeof VBArray != 'undefined')
        return new VBArray(ar).toArray();
    return [].concat(ar);
}

// The program's list of an array call, in the program's own order.
function vbList(ar)
{
    return vbToArray(ar).reverse();
}

// Called by the program once per configuration value with a VBArray holding the list reversed:
// b[0] is the value, b[1] the parameter id. TxPower arrives as ("0", F, B), reversed [B, F, "0"];
// it carries nothing the pages show, and its folded value F must not be taken for an id (F = 3
// would otherwise overwrite SwConfig with the transmit power).
function storeConfig(ar)
{
    var b = vbToArray(ar);
    if (b.length > 2 && String(b[b.length - 1]) == '0')
        return;   // TxPower
    switch (String(b[1])) {
    case '100': fware_ver = b[0]; break;
    case '0': break;
    case '1': diplexer_mode = b[0]; break;
    case '2': local_pswd = b[0]; break;
    case '3': SwConfig = b[0]; break;
    case '4': channelMask = b[0]; break;
    case '5': moca_pswd = b[0]; break;
    case '6': scanMask = b[0]; break;
    default: break;
    }
}

// ---- Login reactions -------------------------------------------------------------------------

function passwordFailed()
{
    var fields = document.getElementsByName('AdminPswd');
    for (var i = 0; i < fields.length; i++)
        fields[i].value = '';
    alert('Password Incorrect!');
}

function passwordAccepted()
{
    window.location.href = 'setup.html';
}

function isTest()
{
    return local_pswd == mypswd;
}

// ---- Channels --------------------------------------------------------------------------------

function chanStep() { return (channelPlan != 0) ? 25 : 50; }

// Channel number that users see for a channel index.
function chanNum(chan)
{
    return (channelPlan != 0) ? Number(chan) + 1 : Number(chan);
}

// Centre frequency in MHz of a channel index; 25 for a negative index (no channel).
function Mhz(chan)
{
    if (Number(chan) < 0)
        return 25;
    return 800 + Number(chan) * chanStep();
}

// Channel index of a frequency in Hz; -1 below 800 MHz.
function UnMhz(freq)
{
    if (Number(freq) >= 800000000)
        return ((Number(freq) / 1000000) - 800) / chanStep();
    return -1;
}

// ---- Addresses -------------------------------------------------------------------------------

// Parses a dotted IPv4 address; returns the four numbers, or 0 when s is not one.
function convertIPAddress(s)
{
    var m = /^\s*(\d+)\s*[.]\s*(\d+)\s*[.]\s*(\d+)\s*[.]\s*(\d+)\s*$/.exec(String(s));
    if (!m)
        return 0;
    var parts = [];
    for (var i = 1; i <= 4; i++) {
        var n = parseInt(m[i], 10);
        if (n > 255)
            return 0;
        parts.push(n);
    }
    return parts;
}

// ---- Secondary window ------------------------------------------------------------------------

function PopUpWindow(url)
{
    if (newwindow && !newwindow.closed && newwindow.location) {
        newwindow.location.href = url;
    } else {
        newwindow = window.open(url, 'site',
            'toolbar=no,location=no,scrollbars=yes,status=yes,width=760,height=600');
        if (newwindow && !newwindow.opener)
            newwindow.opener = self;
    }
    if (newwindow && window.focus)
        newwindow.focus();
    return false;
}

// ---- Shared page helpers ---------------------------------------------------------------------

// Checks a local administrator password as the login and password pages do: not empty, letters
// and digits only. Shows the alert and returns false when the text fails.
function checkAdminPswd(text)
{
    text = String(text);
    if (text.length == 0) {
        alert('Value is required');
        return false;
    }
    for (var i = 0; i < text.length; i++) {
        var c = text.charAt(i);
        if (!/[0-9A-Za-z]/.test(c)) {
            alert('The ' + i + 'st char ' + c + ' is invalid !');
            return false;
        }
    }
    return true;
}

// Text of the message shown when a page would write settings it has not read yet.
var NOT_READ_TEXT = 'The settings have not been read from the Bridge yet.\n' +
                    'Please wait a moment and try again.';

// The program writes all six settings in one request, from the values its window holds. A page
// that writes without having shown the Bridge's values first reads them: afterConfigRead(write)
// asks for them, and write() runs when they have arrived (the page's display_config calls
// configArrived). A read that gets no answer in time writes nothing and says so.
//
// The program ends a configuration read that gets no answer (5 seconds) without telling the page,
// so the page keeps its own time: the read's 5 seconds and a little for the program's command
// queue, which starts one command every 250 ms.
var CONFIG_READ_WAIT_MS = 6000;
var config_read_sent = 0;            // 1 once readConfig has asked for the Bridge's values
var config_read_failed = 0;          // 1 when the last read got no answer in time
var config_read_timer = null;
var write_after_read = null;

function readConfig()
{
    config_read_sent = 1;
    config_read_failed = 0;
    if (config_read_timer != null)
        clearTimeout(config_read_timer);
    config_read_timer = setTimeout(configReadFailed, CONFIG_READ_WAIT_MS);
    MFCGetConfig();
}
function afterConfigRead(write)
{
    write_after_read = write;
    readConfig();
}
function configArrived()
{
    if (config_read_timer != null)
        clearTimeout(config_read_timer);
    config_read_timer = null;
    config_read_failed = 0;
    config_loaded = 1;
    var write = write_after_read;
    write_after_read = null;
    if (write)
        write();
}
function configReadFailed()
{
    config_read_timer = null;
    config_read_failed = 1;
    var write = write_after_read;
    write_after_read = null;
    if (write)
        alert(NOT_READ_TEXT);
}

// Registers CallbackResult for the next completion and reports it in a message box.
function expectResult(caption)
{
    result_caption = caption;
    MFCSetHtmlCallback('CallbackResult');
}
var result_caption = 'Setup';
function CallbackResult(iStatus)
{
    MFCMsgBox(result_caption, (String(iStatus) == '0') ? 'Operation Successful!' : 'Operation Failed!');
}

// Text from the Bridge or the data scripts goes into pages as text, never as markup.
function escapeHtml(text)
{
    return String(text).replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;')
                       .replace(/"/g, '&quot;').replace(/'/g, '&#39;');
}

// Writes the firmware version into the element with the given id: prefix, version, two blanks.
function showVersion(id, prefix)
{
    var el = document.getElementById(id);
    if (el)
        el.innerHTML = prefix + escapeHtml(fware_ver) + '&nbsp;&nbsp;';
}

// The reboot page's Close returns to the setup page as "setup.html#reboot": page variables do not
// survive a navigation, so the request to keep showing the reboot link travels in the address.
if (window.location && window.location.hash == '#reboot')
    iReboot = 1;

// Close button of a page that is normally opened in a window of its own: when the page was
// reached by a link inside a window instead, go back rather than closing that window.
function closeOrBack()
{
    if (window.history.length > 1)
        window.history.back();
    else
        MFCDoCancel();
}

// Writes the link-rate matrix of data script "3": one row per node, the rate in Mbps from the
// row's node to the column's node; a 0 is the node itself on the diagonal and "***" elsewhere.
function writeLinkMatrix()
{
    var n = Number(numNode);
    var max = Number(maxNode);
    if (!(n > 0)) {
        document.write('<p class="warning">Network is not available!</p>');
        return;
    }
    n = Math.min(n, max, 16);
    var width = (n < 8) ? 4 : 3;
    var pad = (n < max) ? ' ' : '';
    var html = '<table class="matrix"><tr><th></th>';
    for (var c = 0; c < n; c++)
        html += '<th>' + escapeHtml(macAddr[c] == undefined ? '' : macAddr[c]) + '</th>';
    html += '</tr>';
    for (var r = 0; r < n; r++) {
        html += '<tr><td class="label">' + escapeHtml(macAddr[r] == undefined ? '' : macAddr[r]) + '</td>';
        for (var k = 0; k < n; k++) {
            var rate = Number(link_status[r * max + k]) || 0;
            var onDiagonal = (r == k);
            var text = (rate == 0) ? (onDiagonal ? '' : '***') : String(rate);
            html += '<td>' + pad + '<input type="text" readonly maxlength="4" size="' + width + '"' +
                    (onDiagonal ? ' class="diag"' : '') + ' value="' + escapeHtml(text) + '"></td>';
        }
        html += '</tr>';
    }
    document.write(html + '</table>');
}

// Menu column of the factory-reset page and its companions (setup1, phy_rates, upgrade).
function writeSideMenu(current)
{
    var groups = [
        ['Setup', [['Coax', 'setup.html'], ['Privacy', 'setup1.html'], ['Password', 'password.html']]],
        ['Bridge Status', [['Coax Statistics', 'advanced.html'], ['MOCA Devices', 'devices_status.html'],
                           ['Phy Rate', 'phy_rates.html']]],
        ['Advance', [['Firmware Upgrade', 'upgrade.html'], ['Factory Reset', 'factory_reset.html']]]
    ];
    var html = '';
    for (var g = 0; g < groups.length; g++) {
        html += '<div class="group">' + groups[g][0] + '</div>';
        var links = groups[g][1];
        for (var i = 0; i < links.length; i++) {
            if (links[i][1] == current)
                html += '<span class="current">' + links[i][0] + '</span>';
            else
                html += '<a href="' + links[i][1] + '" onclick="return ConditionalNavigate(\'' + links[i][1] +
                        '\')">' + links[i][0] + '</a>';
        }
    }
    document.write(html);
}
