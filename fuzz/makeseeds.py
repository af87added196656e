#!/usr/bin/env python3
"""Writes the seed inputs under fuzz/corpus/ from the unit's documented example frames.

Run from anywhere; it rewrites the seed files it knows and leaves other files alone. The
layout of each target's input is described in fuzz/fuzzentries.h.
"""
import json
import pathlib

CORPUS = pathlib.Path(__file__).resolve().parent / "corpus"


def h(text):
    return bytes.fromhex(text)


def frame(data):
    """02 LEN data CHK, for answers the documentation gives only as data."""
    chk = len(data)
    for b in data:
        chk ^= b
    return bytes([0x02, len(data)]) + data + bytes([chk])


ACK = h("06")
OK = h("02 01 00 01")  # a write or service answer: result 00

# A plausible unit's answers to the six reads.
TIMEOUTS = h("00 E8 03 F4 01 3C 00")
SERVER = h("00 C0 00 02 0A 61 1E 13") + b"reports.example.net" + bytes(110)
GPRS = h("00 00 08") + b"internet" + h("05") + b"gdata" + h("05") + b"gdata" + h("05") + b"*100#"
ETHERNET = h("00 00 C0 A8 00 64 FF FF FF 00 C0 A8 00 01 08 08 08 08 00 00 1A 2B 3C 4D 5E")
CASHDESK = h("01 02 0E 00 00 00 17 03 00 00 00 00 00 00 00 56 34 12 00 00 90 78 56 34 12")
PRIORITY = h("00 02")

# Operation numbers of fuzz_link, in FuzzEntry::link's order.
(READ_CASHDESK, READ_TIMEOUTS, READ_SERVER, READ_GPRS, READ_ETHERNET, READ_PRIORITY,
 WRITE_TIMEOUTS, WRITE_TOKEN, WRITE_SERVER, WRITE_GPRS, WRITE_CASHDESK_ID, WRITE_ETHERNET,
 WRITE_PRIORITY, WRITE_MAC, RESET, UNIT_STATUS, MODEM_STATUS, SERVER_TEST, SIGNAL_TEST,
 READ_ALL) = range(20)


def link_seeds():
    op = lambda n: bytes([n])
    server_record = bytearray(137)
    server_record[1:7] = h("C0 00 02 0A 61 1E")
    server_record[8:8 + 19] = b"reports.example.net"
    long_url = bytearray(137)
    long_url[8:137] = b"u" * 129
    gprs_record = bytearray(114)
    gprs_record[3:11] = b"internet"
    gprs_record[37:42] = b"gdata"
    gprs_record[71:76] = b"gdata"
    gprs_record[105:110] = b"*100#"
    return {
        "read_timeouts": op(READ_TIMEOUTS) + ACK + h("02 07 00 E8 03 F4 01 3C 00 25"),
        "read_timeouts_short": op(READ_TIMEOUTS) + ACK + frame(TIMEOUTS[:6]),
        "read_timeouts_nak": op(READ_TIMEOUTS) + h("15 02 01 00 01"),
        "read_timeouts_max": op(READ_TIMEOUTS) + ACK + frame(h("00 FF FF FF FF FF FF")),
        "read_server": op(READ_SERVER) + ACK + frame(SERVER),
        "read_server_10": op(READ_SERVER) + ACK + frame(SERVER[:10]),
        "read_server_138": op(READ_SERVER) + ACK + frame(SERVER + h("00")),
        "read_gprs": op(READ_GPRS) + ACK + frame(GPRS),
        "read_gprs_empty": op(READ_GPRS) + ACK + h("02 06 00 00 00 00 00 00 06"),
        "read_gprs_login33": op(READ_GPRS) + ACK + frame(h("00 00 00 21") + b"l" * 33 + h("00 00")),
        "read_ethernet_dhcp": op(READ_ETHERNET) + ACK + frame(ETHERNET[:18] + h("02") + ETHERNET[19:]),
        "read_cashdesk": op(READ_CASHDESK) + ACK + frame(bytes(15) + h("21 43 65 87 09") + bytes(5)),
        "read_priority_3": op(READ_PRIORITY) + ACK + frame(h("00 03")),
        "read_priority_4": op(READ_PRIORITY) + ACK + frame(h("00 04")),
        "response_bad_checksum": op(READ_PRIORITY) + ACK + h("02 01 00 00"),
        "response_bad_stx": op(READ_PRIORITY) + ACK + h("FD 02 00 02 02"),
        "response_cut": op(READ_ETHERNET) + ACK + h("02 19 00 00 C0"),
        "write_timeouts": op(WRITE_TIMEOUTS) + TIMEOUTS + ACK + OK,
        "write_timeouts_refused": op(WRITE_TIMEOUTS) + TIMEOUTS + ACK + frame(h("01")),
        "write_timeouts_extra": op(WRITE_TIMEOUTS) + TIMEOUTS + ACK + frame(h("00 77 88")),
        "write_token": op(WRITE_TOKEN) + h("00 90 78 56 34 12") + ACK + OK,
        "write_server": op(WRITE_SERVER) + bytes(server_record) + ACK + OK,
        "write_server_long_url": op(WRITE_SERVER) + bytes(long_url) + ACK + OK,
        "write_gprs": op(WRITE_GPRS) + bytes(gprs_record) + ACK + OK,
        "write_gprs_empty": op(WRITE_GPRS) + bytes(114) + ACK + h("02 00 00"),
        "write_gprs_unterminated": op(WRITE_GPRS) + b"\x41" * 114 + ACK + OK,
        "write_cashdesk_id": op(WRITE_CASHDESK_ID) + h("00 21 43 65 87 09") + ACK + OK,
        "write_ethernet": op(WRITE_ETHERNET) + ETHERNET + ACK + OK,
        "write_priority_2": op(WRITE_PRIORITY) + h("00 02") + ACK + OK,
        "write_mac": op(WRITE_MAC) + h("00 00 11 22 33 44 55") + ACK + OK,
        "write_mac_nak": op(WRITE_MAC) + h("00 00 11 22 33 44 55") + h("15"),
        "reset_full": op(RESET) + h("00") + ACK + OK,
        "reset_buffer": op(RESET) + h("05") + ACK + frame(h("01")),
        "unit_status": op(UNIT_STATUS) + ACK + frame(h("00") + h("CC EE E4 E5 EC")) + ACK
        + frame(h("00") + "ККМ: на связи".encode("cp1251")) + ACK + frame(h("01")),
        "unit_status_refused": op(UNIT_STATUS) + ACK + frame(h("01 CC EE E4 E5 EC")),
        "unit_status_empty_part": op(UNIT_STATUS) + ACK + OK + ACK + frame(h("00 CC EE E4 E5 EC")),
        "unit_status_timeout": op(UNIT_STATUS) + ACK + frame(h("00 CC EE E4 E5 EC")) + ACK,
        "modem_status": op(MODEM_STATUS) + ACK
        + frame(h("00") + "Модем: зарегистрирован в сети".encode("cp1251")) + ACK + frame(h("01")),
        "modem_status_endless": op(MODEM_STATUS) + (ACK + frame(h("00 CC EE E4 E5 EC"))) * 260,
        "server_test": op(SERVER_TEST) + ACK + frame(h("00 4B")),
        "signal_test_result_only": op(SIGNAL_TEST) + ACK + OK,
        "signal_test_refused": op(SIGNAL_TEST) + ACK + frame(h("01 4B")),
        "signal_test_empty": op(SIGNAL_TEST) + ACK + h("02 00 00"),
        "signal_test_silent": op(SIGNAL_TEST) + ACK,
        "read_all": op(READ_ALL) + b"".join(ACK + frame(d) for d in
                                            (TIMEOUTS, SERVER, ETHERNET, CASHDESK, PRIORITY, GPRS)),
    }


def frame_seeds():
    # First byte: 0 request, 1 copyExact, 2 server read, 3 GPRS read, 4 GPRS write,
    # 5 server write, 6 result and test value, 7 status part.
    gprs_record = bytearray(114)
    gprs_record[3:11] = b"internet"
    gprs_record[37:70] = b"L" * 33
    return {
        "request_group6": h("00 07 06"),
        "request_empty": h("00"),
        "request_timeouts": h("00 60 E8 03 F4 01 3C 00"),
        "request_256": h("00") + bytes(256),
        "copy_timeouts": h("01") + TIMEOUTS,
        "copy_priority": h("01 00 03"),
        "copy_ethernet": h("01") + ETHERNET,
        "server_read_10": h("02") + SERVER[:10],
        "server_read_138": h("02") + SERVER + h("00"),
        "gprs_read": h("03") + GPRS,
        "gprs_read_empty": h("03 00 00 00 00 00 00"),
        "gprs_read_extra": h("03 00 00 00 00 00 00 00"),
        "gprs_read_zero_inside": h("03 00 00 03 61 00 62 00 00 00"),
        "gprs_write": h("04") + bytes(gprs_record),
        "gprs_write_unterminated": h("04") + b"\x7F" * 114,
        "server_write_long": h("05") + bytes(8) + b"u" * 129,
        "server_write": h("05") + SERVER,
        "value_75": h("06 00 4B"),
        "value_refused": h("06 01 4B"),
        "value_result_only": h("06 00"),
        "status_modem": h("07 00 CC EE E4 E5 EC"),
        "status_undefined_byte": h("07 00 98 00 FF"),
    }


def engine_seeds():
    # First byte: 1 fault lines, 2 JSON state, 4 the configurator's usual requests first.
    # Then the JSON and the fault lines, each ended by a zero byte, a chunk count and the
    # chunk sizes, and the bytes on the line.
    state = json.dumps({
        "priority": 4,
        "unitStatus": ["БМКС", {"hex": "CC EE E4 E5 EC"}],
        "tests": {"signal": "00 4B", "server": ""},
        "groups": {"10": "00 04", "7": "00 C0 00 02 0A"},
    }, ensure_ascii=False).encode()
    return {
        "read_group6": h("00 00 02 02 07 06 03"),
        "chunked_write": h("00 04 01 02 03 01") + h("02 07 60 E8 03 F4 01 3C 00 45"),
        "writes": h("00 00") + h("02 02 67 02 67 02 07 69 00 11 22 33 44 55 7F")
        + h("02 06 63 00 00 00 00 00 65 02 02 26 00 24"),
        "status_dialogues": h("00 00 02 01 55 54") + h("02 01 05 04") * 4 + h("02 01 56 57")
        + h("02 01 05 04") * 3,
        "tests": h("00 00 02 02 58 01 5B 02 02 58 02 58"),
        "junk_and_bad_sum": h("00 02 03 02 FF 13 02 02 07 06 04 02 02 07 06 03 02 FF"),
        "usual": h("04 00"),
        "faults": h("05") + b"nak@07/04\nresult=01@61\nsilent@55\ngap=1500@07/08\nbadlen@58\n"
        b"endless\npriority=4@07/0A\nbogus=1\n" + h("00 00"),
        "state": h("06") + state + h("00 00 02 02 07 0A 0F"),
        "state_bad": h("02") + b'{"priority": 300, "server": {"port": -1}}' + h("00 00"),
        "state_help": h("06") + b'{"timeouts": {"full": 65535}, "server": {"url": "reports.example.net"},'
        b' "cashDesk": {"id": "0987654321"}, "ethernet": {"mac": "00-11-22-33-44-55"}}' + h("00 00"),
    }


def settings_seeds():
    # Settings files as Qt 6 writes them (raw UTF-8), as Qt 5 does (escapes), and edited by hand.
    return {
        "qt6_defaults": "[General]\nAPN=интернет\nCashDeskID=ккм№1\nGateway=шлюзAB\nIPsrv=\"адрес;сервера\"\n"
        "Password=пароль\\\\с \\\"кавычками\\\"\nRetryTimeout=\" два \"\nServerToken=\"токен,1\"\n"
        "UseDHCP=true\nportNumber=-1\n\n[Other]\nx=1\n".encode(),
        "qt5_defaults": b"[General]\nAPN=\\x438\\x43d\\x442\\x435\\x440\\x43d\\x435\\x442\n"
        b"CashDeskID=\\x43a\\x43a\\x43c\\x2116\\x31\n",
        "controls_and_digits": "[General]\nk=\\x1я1\nl=я\\x1\\x31\nm=\x7fa\n".encode(),
        "beyond_16_bits": "[General]\nk=\U0001F600b\n".encode(),
        "list_and_bytes": "[General]\nk=я, 1\nb=@ByteArray(\\xd1\\x8f)\nc=@@я\n".encode(),
        "comments_crlf": ";ё1\r\n[General]\r\nK=Ё\r\n; ж=2\r\n".encode(),
        "quotes_across_lines": "[General]\nK=\"a\nя=1\"\nL=b\\\nж\n".encode(),
        "bom_and_keys": "\ufeff\n[Раздел]\nключ=ё\n%U043A=я\n".encode(),
        # A profile as an engineer's editor saves it: what the command line reads and changes.
        "editor_profile": "\ufeff; shop 7\r\n[General]\r\nAPN=интернет\r\nPassword=\"a=b;c\\\"d\"\r\n"
        "Login=a=b;c\"d\r\nEthMAC = 00-1a-2b-3c-4d-ff \r\nApn=x ; note\r\n[Shop]\r\nEthMAC=x\r\n".encode(),
        "windows1251_profile": b"[General]\r\nAPN=\xe8\xed\xf2\xe5\xf0\xed\xe5\xf2\r\nEthMAC=00-1a-2b-3c-4d-ff\r\n",
    }


def profile_seeds():
    # Flag byte (0: UTF-8, 1: Latin-1), then the 19 texts in the settings file's key order:
    # FullTimeout CommandTimeout RetryTimeout ServerToken IPsrv URLaddr Port APN Login Password
    # BalanceCode EthMAC EthIP EthMask Gateway DNSaddr UseDHCP Priority CashDeskID.
    def texts(flag, values):
        return bytes([flag]) + "\n".join(values).encode("utf-8" if flag == 0 else "latin-1")

    valid = ["1000", "500", "60", "1234567890", "192.0.2.10", "reports.example.net", "7777",
             "internet", "оператор", "пароль", "*100#", "00-1a-2b-3c-4d-5e", "192.168.0.100",
             "255.255.255.0", "192.168.0.1", "8.8.8.8", "false", "2", "0000123456"]
    edited = list(valid)
    edited[:4] = ["+40000", "007", "65535", "42"]
    edited[11] = "FF-FF-FF-FF-FF-FF"
    edited[16:18] = ["yes", "3"]
    return {
        "valid_utf8": texts(0, valid),
        "edited_by_hand": texts(0, edited),
        "latin1_login": texts(1, valid[:8] + ["caf\xe9", "secret"] + valid[10:]),
        "url_with_nul": texts(0, valid[:5] + ["a\0b"] + valid[6:]),
        "rejected_token": texts(0, valid[:3] + ["12a4"] + valid[4:]),
        "nothing": b"\0",
    }


def main():
    for target, seeds in (("fuzz_link", link_seeds()), ("fuzz_frame", frame_seeds()),
                          ("fuzz_unitengine", engine_seeds()), ("fuzz_settingsfile", settings_seeds()),
                          ("fuzz_profile", profile_seeds())):
        folder = CORPUS / target
        folder.mkdir(parents=True, exist_ok=True)
        for name, data in seeds.items():
            (folder / name).write_bytes(data)


if __name__ == "__main__":
    main()
