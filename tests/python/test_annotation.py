import gc
import struct
import time

import pytest

import orbandile as ob
from equality import assert_distinct_values, assert_equal_values


def narrowed(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def test_empty_annotation():
    a = ob.Annotation()
    assert len(a) == 0
    assert str(a) == ""
    assert list(a) == []
    assert hash(a) == 0
    assert a == ob.Annotation("")


def test_lookup():
    a = ob.Annotation("a:1")
    assert a["b"] is None
    assert a["a"] == 1 + 0j and type(a["a"]) is complex
    assert a.get("b", 2.5) == 2.5 + 0j
    assert a.get("a", 7) == 1 + 0j
    assert a.get("b", 0.1) == complex(narrowed(0.1), 0)
    assert "a" in a and "b" not in a
    assert a.str_value("a") == "1"
    with pytest.raises(IndexError, match="^map::at$"):
        a.str_value("b")
    with pytest.raises(TypeError):
        a.get("a")


def test_values_widen_single_precision_parts():
    a = ob.Annotation("x:(0.1,-0.2),y:1+2j,P:A")
    assert a["x"] == complex(narrowed(0.1), narrowed(-0.2))
    assert a["y"] == 1 + 2j
    assert a["P"] == complex(narrowed(1.5707963267948966), narrowed(3.141592653589793))


def test_iterates_in_name_order_and_keeps_annotation_alive():
    it = iter(ob.Annotation("b:2,a:1"))
    gc.collect()
    assert list(it) == [("a", 1 + 0j), ("b", 2 + 0j)]


@pytest.mark.parametrize("text, printed", [
    ("a:0,b:(1,2)", "a:0,b:(1,2)"),
    ("b:1+2j,P:H", "P:H,b:(1,2)"),
    ("P:0", "P:H"),
    ("a:V", "a:3.1415927"),
    ("lambda:625.2", "lambda:625.2"),
    ("a:12j", "a:(0,12)"),
])
def test_str(text, printed):
    assert str(ob.Annotation(text)) == printed
    assert ob.Annotation(printed) == ob.Annotation(text)


@pytest.mark.parametrize("text, error, message", [
    ("a:1,a:2", ValueError, "invalid annotation (duplicate tag)"),
    ("a:1, b:2", ValueError,
     "invalid annotation (a part of the string is not detected as [name:value]. a:1,,b:2)"),
    ("a:(1, 2)", ValueError, "invalid annotation (cannot parse value)"),
    ("12:1", ValueError, "invalid annotation (digit only name is forbidden: 12)"),
    ("P:X", ValueError, "invalid annotation (unknown polarization value: X)"),
    ("a:--1", ValueError, "stof"),
    ("a:1e39", ValueError, "invalid annotation (value out of float range: 1e39)"),
    ("a:(1,-1e39)", ValueError, "invalid annotation (value out of float range: -1e39)"),
    ("a:5|", ValueError, "invalid annotation (a part of the string is not detected as [name:value]. a:5)"),
])
def test_parse_errors(text, error, message):
    with pytest.raises(error) as info:
        ob.Annotation(text)
    assert str(info.value) == message


def test_values_below_the_float_range_are_rounded():
    assert ob.Annotation("a:1e-40")["a"] == narrowed(1e-40) != 0
    assert ob.Annotation("a:-1e-45j")["a"] == complex(0, narrowed(-1e-45))
    assert ob.Annotation("a:1e-50")["a"] == 0
    assert str(ob.Annotation("a:1e-40")) == "a:1e-40"


def test_a_long_number_before_a_word_character_is_refused_in_linear_time():
    start = time.perf_counter()
    with pytest.raises(ValueError, match=r"^invalid annotation \(the value is invalid: 1{400000}x\)$"):
        ob.Annotation("a:" + "1" * 400000 + "x")
    assert time.perf_counter() - start < 5


def test_equality_and_hash():
    a, b = ob.Annotation("a:1"), ob.Annotation("a:1.0")
    assert_equal_values(a, b)
    assert_equal_values(ob.Annotation("a:-0"), ob.Annotation("a:0"))
    assert_equal_values(ob.Annotation("P:H"), ob.Annotation("P:0"))
    assert_distinct_values(a, ob.Annotation("a:2"), ob.Annotation("b:1"), ob.Annotation("P:H"), ob.Annotation(""))
    assert (a == 3) is False and (a != 3) is True
    assert len({a, b, ob.Annotation("a:2"), ob.Annotation("P:H"), ob.Annotation("P:0")}) == 3
    for text in ["a:1", "b:(1,2)", "P:V,x:-3.5", "z:1e-5"]:
        value = ob.Annotation(text).__hash__()
        assert 0 <= value < 2**64


def test_is_read_only():
    a = ob.Annotation("a:1")
    with pytest.raises(TypeError):
        a["a"] = 2


@pytest.mark.parametrize("cls", [ob.Annotation, ob.ParsedBasicState])
def test_none_text_is_refused(cls):
    with pytest.raises(TypeError):
        cls(None)


def test_text_is_read_as_a_c_string():
    assert ob.Annotation(b"a:1") == ob.Annotation("a:1")
    assert ob.Annotation(bytearray(b"a:1")) == ob.Annotation("a:1")
    assert ob.Annotation("a:1\0garbage") == ob.Annotation("a:1")
    assert ob.ParsedBasicState("|1,2>\0garbage").get_fs_vect() == [1, 2]
    assert ob.ParsedBasicState(b"|3>").get_fs_vect() == [3]


def test_docstrings():
    assert ob.Annotation.__doc__.startswith(
        "An Annotation is a mapping between string keys representing annotation names, and (complex) "
        "values that can be any number.")
    assert "|{a:0,b:(1,2)},{a:0,b:(1,2)}>" in ob.Annotation.__doc__
    for member, doc in [(ob.Annotation.__init__, "empty annotation constructor"),
                        (ob.Annotation.__init__, "constructor from string"),
                        (ob.Annotation.str_value, "give string representation of the tag value"),
                        (ob.Annotation.__contains__, "check if element is part of annotation"),
                        (ob.Annotation.get, "retrieve an annotation or a default value")]:
        assert doc in member.__doc__


@pytest.mark.parametrize("text, counts, tags, annotations", [
    ("|1,{0}2>", [1, 3], {1: [0]}, {}),
    ("|{a:1},0>", [1, 0], {}, {0: ["a:1"]}),
    ("|{0},0,{0}{1}>", [1, 0, 2], {0: [0], 2: [0, 1]}, {}),
    ("|0{1}>", [0], {0: []}, {}),
    ("|0, {lambda:625.2}, 2{lambda:625.3}>", [0, 1, 2], {},
     {1: ["lambda:625.2"], 2: ["lambda:625.3"] * 2}),
    ("| >", [], {}, {}),
])
def test_parsed_basic_state(text, counts, tags, annotations):
    parsed = ob.ParsedBasicState(text)
    assert parsed.get_fs_vect() == counts
    assert parsed.get_noisy_modes() == tags
    expected = {mode: [ob.Annotation(t) for t in texts] for mode, texts in annotations.items()}
    assert parsed.get_annotated_modes() == expected
    assert parsed.is_noisy() == bool(tags)
    assert parsed.is_annotated() == bool(annotations)


def test_parsed_results_are_new_objects():
    parsed = ob.ParsedBasicState("|{a:1},0>")
    first, second = parsed.get_annotated_modes(), parsed.get_annotated_modes()
    assert first == second and first[0][0] is not second[0][0]
    first[0].clear()
    assert len(parsed.get_annotated_modes()[0]) == 1


@pytest.mark.parametrize("text, error, message", [
    ("|1,x>", ValueError, "Invalid character. Should be a digit.\n|1,x>\n  ^"),
    ("1>", ValueError, "BasicState should start with the character '|'.\n1>\n^"),
    ("|1,2", ValueError, "Wrong termination of BasicState. Reached EOS without catching '>'.\n|1,2\n^"),
    ("|{a}>", ValueError, "Error while parsing digit:a\na}>\n^"),
    ("|{300}>", ValueError, "Invalid noise tag. Should be between 0 and 255.\n|{300}>\n ^"),
    ("|99999999999>", ValueError,
     "Error while parsing digit:99999999999\n99999999999>\n" + " " * 10 + "^"),
    ("|{a:1,a:2}>", ValueError, "invalid annotation (duplicate tag)"),
    ("|{a:1e39}>", ValueError, "invalid annotation (value out of float range: 1e39)"),
])
def test_parsed_basic_state_errors(text, error, message):
    with pytest.raises(error) as info:
        ob.ParsedBasicState(text)
    assert str(info.value) == message


TEXT_CONSTRUCTORS = [ob.ParsedBasicState, ob.FockState, ob.NoisyFockState, ob.AnnotatedFockState,
                     ob.StateVector]


@pytest.mark.parametrize("cls", TEXT_CONSTRUCTORS)
@pytest.mark.parametrize("text, message", [
    (b"|\xff>", "Invalid character. Should be a digit.\n|\\xff>\n^"),
    (b"|1,\xc3\xa9>", "Invalid character. Should be a digit.\n|1,\\xc3\\xa9>\n  ^"),
    (b"|{\x80}>", "Error while parsing digit:\\x80\n\\x80}>\n   ^"),
    (b"|1>\r\x1b", "BasicState is already closed by '>'.\n|1>\\x0d\\x1b\n      ^"),
])
def test_bytes_outside_printable_ascii_are_escaped_in_errors(cls, text, message):
    with pytest.raises(ValueError) as info:
        cls(text)
    assert str(info.value) == message


def test_annotation_text_of_other_bytes_is_refused():
    with pytest.raises(ValueError, match=r"^invalid annotation \(cannot parse value\)$"):
        ob.Annotation(b"\xff:1")


@pytest.mark.parametrize("cls", TEXT_CONSTRUCTORS)
@pytest.mark.parametrize("text", ["|50000000{a:1}>", "|2147483647{0}>", "|8192{0}>"])
def test_group_counts_beyond_any_state_are_refused_before_allocating(run_python, cls, text):
    # Under a 2 GB address-space limit, copying the group first would fail with MemoryError.
    result = run_python(f"""
        import resource
        resource.setrlimit(resource.RLIMIT_AS, (2 << 30, 2 << 30))
        import orbandile as ob
        try:
            ob.{cls.__name__}({text!r})
        except Exception as error:
            print(type(error).__name__, repr(str(error)))
        """)
    # The error stands at the group's closing brace.
    expected = f"Too many photons in the mode.\n{text}\n" + " " * (text.index("}") - 1) + "^"
    assert result.stdout.strip() == f"ValueError {expected!r}", result.stderr
