// Firmware version placeholder; the live version arrives through storeConfig ("100").
var fware_ver = '1.0.0';
