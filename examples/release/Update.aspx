<html>
<head><title>TakTak update</title></head>
<body>
<p>Release <b>2.0.1</b></p>
<p>Files:</p>
<ul>
<li><b>TakTak.exe</b></li>
<li><b>index.html</b></li>
<li><b>style.css</b></li>
<li><b>news.txt</b></li>
</ul>
<b></b>
<p>Nothing after the empty token is read: <b>never.txt</b></p>
</body>
</html>
