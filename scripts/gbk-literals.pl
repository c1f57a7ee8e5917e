#!/usr/bin/perl
# Rewrites the narrow string literals of a C++ source (stdin to stdout) from
# UTF-8 to GBK, as GCC's -fexec-charset=GBK would, for a compiler that knows
# no other execution character set (scripts/fuzz.sh). Comments, character
# literals and u"", U"", L"", u8"" and raw literals keep their bytes.
use strict;
use Encode;
sub literal {
    my ($whole, $text) = @_;
    return $whole unless defined $text && $text =~ /[\x80-\xff]/;
    return '"' . encode('gbk', decode('UTF-8', $text, Encode::FB_CROAK), Encode::FB_CROAK) . '"';
}
local $/;
my $s = <STDIN>;
$s =~ s{(//[^\n]*|/\*.*?\*/|'(?:\\.|[^'\\\n])'|(?<![uUL8R\w])"((?:\\.|[^"\\\n])*)")}{literal($1, $2)}gse;
print $s;
